#include "child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

ChildProcess SpawnChild(const std::vector<std::string>& argv, const std::string& cwd, int in,
                        int out) {
    ChildProcess child;
    child.pid = fork();
    if (child.pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return child;
}

int WaitChild(ChildProcess& child, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t r = waitpid(child.pid, &status, WNOHANG);
        if (r == child.pid) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string MakeTempFolder(const std::string& name) {
    std::string path = ::testing::TempDir() + name + "." + std::to_string(getpid());
    std::string cmd = "rm -rf '" + path + "' && mkdir -p '" + path + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

WorkFolder::WorkFolder(const std::string& name, const std::string& subfolders) {
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd))) m_previous = cwd;
    m_path = MakeTempFolder(name);
    EXPECT_EQ(chdir(m_path.c_str()), 0);
    if (!subfolders.empty()) {
        EXPECT_EQ(system(("mkdir -p " + subfolders).c_str()), 0);
    }
}

WorkFolder::~WorkFolder() {
    if (!m_previous.empty() && chdir(m_previous.c_str()) != 0) ADD_FAILURE() << "chdir back";
}
