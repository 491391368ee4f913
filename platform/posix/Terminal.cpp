#include "platform/Terminal.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void WriteText(int fd, const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno != EINTR)
            return;  // a prompt that cannot be shown does not stop the typing
        at += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    }
}

// One line from the terminal; its echo is off while it is typed.
std::string ReadHiddenLine(int tty)
{
    termios saved{};
    const bool canHide = ::tcgetattr(tty, &saved) == 0;
    if (canHide) {
        termios hidden = saved;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &hidden);
    }
    std::string line;
    for (char c; ;) {
        ssize_t n = ::read(tty, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        line += c;
    }
    if (canHide)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    WriteText(tty, "\n");  // the newline the hidden echo did not show
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

std::optional<std::string> ReadHiddenLineFromTerminal(const std::string& prompt)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return std::nullopt;
    WriteText(tty, prompt);
    std::string line = ReadHiddenLine(tty);
    ::close(tty);
    return line;
}
