#include "support/ChildProcess.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace corvessa::test {

std::unique_ptr<ChildProcess> ChildProcess::start(const QString& program, const QStringList& arguments,
                                                  const std::optional<QStringList>& environment,
                                                  const QString& logPath)
{
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty() || !QFileInfo(path).isExecutable())
        return nullptr;

    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls are allowed.
    std::vector<std::string> argStore{path.toStdString()};
    for (const QString& a : arguments)
        argStore.push_back(a.toStdString());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    std::vector<char*> envp;
    if (environment) {
        for (const QString& e : *environment)
            envStore.push_back(e.toStdString());
        for (auto& e : envStore)
            envp.push_back(e.data());
        envp.push_back(nullptr);
    }
    const std::string log = logPath.isEmpty() ? std::string("/dev/null") : logPath.toStdString();
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid < 0)
        return nullptr;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test program
        if (::getppid() != parent)
            ::_exit(127);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0)
            ::dup2(null, STDIN_FILENO);
        ::execve(argv[0], argv.data(), environment ? envp.data() : environ);
        ::_exit(127);
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid));
}

ChildProcess::~ChildProcess()
{
    terminate();
}

bool ChildProcess::isRunning()
{
    if (m_status)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid)
        m_status = status;
    return !m_status && r == 0;
}

bool ChildProcess::waitFinished(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (isRunning()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void ChildProcess::terminate(int graceMs)
{
    if (!isRunning())
        return;
    ::kill(m_pid, SIGTERM);
    if (waitFinished(graceMs))
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    if (::waitpid(m_pid, &status, 0) == m_pid)
        m_status = status;
}

} // namespace corvessa::test
