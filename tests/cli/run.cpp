#include "cli/run.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace rekmo::test {

ProcessResult run_process(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<char*> args, vars;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& v : env) vars.push_back(const_cast<char*>(v.c_str()));
    args.push_back(nullptr);
    vars.push_back(nullptr);

    int pipe_fds[2];
    ProcessResult result;
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null_fd = ::open("/dev/null", O_RDWR);
        ::dup2(null_fd, STDIN_FILENO);
        ::dup2(null_fd, STDOUT_FILENO);
        ::dup2(pipe_fds[1], STDERR_FILENO);
        ::execve(args[0], args.data(), vars.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) != 0) {
        if (n > 0)
            result.errors.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            break;
    }
    ::close(pipe_fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ProcessResult run_rekmo(const std::vector<std::string>& operands) {
    std::vector<std::string> argv = {REKMO_BINARY};
    argv.insert(argv.end(), operands.begin(), operands.end());
    return run_process(argv, {"LC_ALL=C"});
}

}  // namespace rekmo::test
