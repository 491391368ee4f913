#include "tests/support/Unprivileged.h"

#include <sys/wait.h>
#include <unistd.h>

int RunUnprivileged(const std::function<int()>& body)
{
    constexpr uid_t kNobody = 65534;
    pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0))
            ::_exit(255);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}
