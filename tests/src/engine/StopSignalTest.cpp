// The stop signals: the first is recorded, the second ends the process at once.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/StopSignal.h"

TEST(StopSignal, FirstSignalIsRecordedSecondEndsAtOnce) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        StopSignal::install();
        char seen[2];
        seen[0] = StopSignal::received() == 0 ? 'y' : 'n';
        raise(SIGTERM);
        seen[1] = StopSignal::received() == SIGTERM ? 'y' : 'n';
        (void)!write(pipeFds[1], seen, 2);
        raise(SIGHUP);   // a second signal, of any of the three kinds
        (void)!write(pipeFds[1], "went on", 7);
        _exit(0);
    }
    close(pipeFds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    char seen[16] = {0};
    const ssize_t n = read(pipeFds[0], seen, sizeof seen);
    close(pipeFds[0]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGHUP);
    EXPECT_EQ(std::string(seen, n > 0 ? static_cast<std::size_t>(n) : 0), "yy")
        << "none before the first, the first recorded, nothing after the second";
}
