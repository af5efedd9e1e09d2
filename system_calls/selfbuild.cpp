// SPDX-License-Identifier: MIT
// selfbuild: prints one computed line, then becomes the compiler run on this
// very file, leaving a debug build named "zarnik" in the current directory.
//
// The compiler is the C driver, so this file stays self-contained and needs
// no C++ runtime: plain `gcc -g -o zarnik selfbuild.cpp` must build it.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main() {
    const int32_t a = 20;
    const int32_t b = 40;
    const int32_t c = a - b;
    std::printf("the c : %d \n", c);
    // The line must not stay behind in the buffer of a pipe or a file when the
    // process image is replaced.
    std::fflush(stdout);

    execl("/usr/bin/gcc", "gcc", "-g", "-o", "zarnik", "selfbuild.cpp",
          static_cast<char *>(nullptr));

    // Still here: the compiler could not be started. Report it the way a
    // shell reports a command that cannot run.
    int error = errno;
    std::fprintf(stderr, "selfbuild: cannot run /usr/bin/gcc: %s\n", std::strerror(error));
    return error == ENOENT ? 127 : 126;
}
