// Single key presses from the terminal on standard input, for as long as an
// object lives: the terminal leaves line editing and echo while it lives and
// gets back exactly the mode it had when it ends, however the scope is left
// (normal end, an interrupt that ends the run, an error thrown through it).
// Ctrl-C still interrupts; Ctrl-Z is switched off meanwhile, so the program
// is never stopped with the terminal in this mode.
#pragma once

#include <termios.h>

#include <optional>

class RawTerminal {
public:
    // Takes standard input into key-by-key mode when it is a terminal;
    // otherwise (a pipe, a file) does nothing and active() is false.
    RawTerminal();
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    bool active() const { return saved_.has_value(); }
    // The next key pressed, without waiting; nothing when none is waiting
    // (or the terminal is not active).
    std::optional<char> nextKey();

private:
    std::optional<termios> saved_;
};
