#pragma once

#include <string>

// The master side of a new pseudo-terminal in raw mode; the slave is the modem's
// serial line as the flasher sees it.
class PseudoTerminal final {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // False with errno set when no terminal could be had.
    bool open();
    void close();
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

private:
    int master_ = -1;
    std::string slavePath_;
};
