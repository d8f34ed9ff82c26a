#pragma once
// Kernel assertions. A failed assertion is a fault of the kernel or of the
// generated model code, never of the input: it prints the expression, the
// source name and the line and ends the program.

[[noreturn]] void kernelAssertionFailed(const char* expression, const char* source, int line);

// KERNEL_ASSERT(cond, "src/Transition", 367): the source name and line are
// the ones the assertion is known by, not the position in this file.
#define KERNEL_ASSERT(cond, source, line)                          \
    do {                                                           \
        if (!(cond)) kernelAssertionFailed(#cond, source, line);   \
    } while (0)

// The same with the expression text given explicitly, for assertions whose
// condition is written differently from the text they are known by.
#define KERNEL_ASSERT_TEXT(cond, text, source, line)               \
    do {                                                           \
        if (!(cond)) kernelAssertionFailed(text, source, line);    \
    } while (0)
