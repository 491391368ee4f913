#pragma once
// An X server of its own for a test: Xvfb on a free display, without a window manager, stopped
// when the object goes. DISPLAY names it while it lives.

#include <string>
#include <sys/types.h>

class Xvfb {
public:
    // Throws std::runtime_error when Xvfb is missing or does not come up.
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Display() const { return m_display; }

private:
    pid_t m_server = -1;
    std::string m_display;
    std::string m_previous;
};

bool XvfbInstalled();
