// Starting a peer program (lrzsz) for the protocol tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ChildProcess {
    pid_t pid = -1;
};

// Starts argv[0] in `cwd` with the given descriptors as its standard input and output
// (stderr goes to /dev/null).
ChildProcess SpawnChild(const std::vector<std::string>& argv, const std::string& cwd, int in,
                        int out);

// The exit status, or -1 when the child had to be killed after `timeoutMs`.
int WaitChild(ChildProcess& child, int timeoutMs);

// A fresh temporary folder made the current directory, with `subfolders` in it, for as long as
// this object lives (the program's paths are relative: "data\\cfg.txt").
class WorkFolder {
  public:
    WorkFolder(const std::string& name, const std::string& subfolders);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::string& Path() const { return m_path; }

  private:
    std::string m_previous;
    std::string m_path;
};

// A fresh empty folder under the test temporary folder.
std::string MakeTempFolder(const std::string& name);
std::string ReadWholeFile(const std::string& path);
