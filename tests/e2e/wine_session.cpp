#include "wine_session.h"

#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace e2e {

namespace {

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

void WriteLine(const std::string& path, const std::string& line) { std::ofstream(path) << line << "\n"; }

void SleepMs(int ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

// The environment of every Wine process of the session; `nativeDlls` are
// looked for as native DLLs first, beside the program and on its path.
std::vector<std::string> WineEnvironment(const std::vector<std::string>& nativeDlls = {},
                                         const std::string& wineDebug = "-all",
                                         const std::string& locale = "ja_JP.UTF-8") {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name == "DISPLAY" || name == "WINEPREFIX" || name == "WINEDEBUG" || name == "WINEARCH" ||
            name == "WINEDLLOVERRIDES" || name.compare(0, 3, "LC_") == 0 || name == "LANG") {
            continue;
        }
        env.push_back(entry);
    }
    env.push_back("DISPLAY=:" + ReadLine(SessionDir() + "/display"));
    env.push_back("WINEPREFIX=" + SessionDir() + "/prefix");
    env.push_back("WINEARCH=win32");
    env.push_back("WINEDEBUG=" + wineDebug);
    std::string overrides = "mscoree,mshtml=";  // no Mono or Gecko installer prompts
    for (size_t i = 0; i < nativeDlls.size(); ++i) {
        overrides += (i == 0 ? ";" : ",") + nativeDlls[i];
        if (i + 1 == nativeDlls.size()) overrides += "=n,b";
    }
    env.push_back("WINEDLLOVERRIDES=" + overrides);
    env.push_back("LC_ALL=" + locale);  // ja_JP: Wine's ANSI code page becomes 932
    return env;
}

// Starts `argv` with `env` in `dir`, output to `log`; the child's pid. The
// child and its descendants ignore SIGXFSZ, so that a write past a file
// size limit fails instead of ending the process.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& dir,
            const std::string& log, bool detach) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (detach) setsid();
    signal(SIGXFSZ, SIG_IGN);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int in = open("/dev/null", O_RDONLY);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    if (in >= 0) dup2(in, 0);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunWine(const std::vector<std::string>& argv) {
    return Wait(Spawn(argv, WineEnvironment(), WorkDir(), SessionDir() + "/wine.log", false));
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    if (hex == "-") return "";
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::vector<Box> ParseRecord(const std::string& path, RunResult* result) {
    std::vector<Box> boxes;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "box") {
            boxes.emplace_back();
        } else if (key == "exit") {
            result->ended = true;
            words >> result->exitCode;
        } else if (key == "timeout") {
            result->ended = false;
        } else if (!boxes.empty()) {
            Box& box = boxes.back();
            std::string value;
            if (key == "caption") {
                words >> value;
                box.caption = Unhex(value);
            } else if (key == "text") {
                words >> value;
                box.text = Unhex(value);
            } else if (key == "utf8caption") {
                words >> value;
                box.utf8Caption = Unhex(value);
            } else if (key == "utf8text") {
                words >> value;
                box.utf8Text = Unhex(value);
            } else if (key == "owner") {
                words >> value;
                box.hasOwner = value != "none";
                if (box.hasOwner) box.ownerCaption = Unhex(value);
            } else if (key == "icon") {
                words >> box.icon;
            } else if (key == "buttons") {
                int id;
                while (words >> id) box.buttons.push_back(id);
            } else if (key == "item") {
                std::string id, cls;
                words >> id >> cls;
                box.items.push_back(id + " " + cls);
            } else if (key == "answer") {
                words >> value;
                box.answer = value == "none" ? 0 : isdigit(static_cast<unsigned char>(value[0])) ? std::stoi(value) : -1;
            }
        }
    }
    return boxes;
}

}  // namespace

std::string WindowsBuildDir() { return E2E_WINDOWS_BUILD_DIR; }
std::string SessionDir() { return E2E_SESSION_DIR; }
std::string WorkDir() { return SessionDir() + "/work"; }
std::string PackTool() { return E2E_PACK_TOOL; }

std::string WindowsPath(const std::string& hostPath) {
    std::string path = "Z:" + hostPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

bool SessionRunning() {
    std::string pid = ReadLine(SessionDir() + "/xvfb.pid");
    return !pid.empty() && kill(std::stoi(pid), 0) == 0 && Exists(SessionDir() + "/display");
}

bool StartSession(std::string* error) {
    mkdir(SessionDir().c_str(), 0755);
    mkdir(WorkDir().c_str(), 0755);
    for (const char* file : {"/valkrin.exe", "/ui-driver.exe"}) {
        if (!Exists(WindowsBuildDir() + file)) {
            *error = WindowsBuildDir() + file +
                     " is missing: build the windows preset first, or set VALKRIN_WINDOWS_BUILD_DIR";
            return false;
        }
    }
    if (!SessionRunning()) {
        int display = 0;
        for (int n = 91; n < 200 && display == 0; ++n) {
            std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            if (!Exists(socket) && !Exists(lock)) display = n;
        }
        if (display == 0) {
            *error = "no free X display number";
            return false;
        }
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
        pid_t xvfb = Spawn({"Xvfb", ":" + std::to_string(display), "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                           env, "", SessionDir() + "/xvfb.log", true);
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
        for (int waited = 0; waited < 10000 && !Exists(socket); waited += 50) SleepMs(50);
        if (!Exists(socket) || kill(xvfb, 0) != 0) {
            *error = "Xvfb did not start (see " + SessionDir() + "/xvfb.log)";
            return false;
        }
        WriteLine(SessionDir() + "/xvfb.pid", std::to_string(xvfb));
        WriteLine(SessionDir() + "/display", std::to_string(display));
    }
    if (!Exists(SessionDir() + "/prefix/system.reg")) {
        if (RunWine({"wineboot", "-i"}) != 0 || RunWine({"wineserver", "-w"}) != 0) {
            *error = "wineboot failed (see " + SessionDir() + "/wine.log)";
            return false;
        }
    }
    // A persistent server keeps every later start of a Wine process short
    // (when one runs already, this start gives up, and that one stays).
    RunWine({"wineserver", "-p"});
    return true;
}

void StopSession() {
    if (Exists(SessionDir() + "/display")) RunWine({"wineserver", "-k"});
    std::string pid = ReadLine(SessionDir() + "/xvfb.pid");
    if (!pid.empty()) kill(std::stoi(pid), SIGTERM);
    unlink((SessionDir() + "/xvfb.pid").c_str());
    unlink((SessionDir() + "/display").c_str());
}

RunResult RunUnderWine(const std::string& program, const RunOptions& plan) {
    RunResult result;
    std::string base = program.substr(0, program.rfind('.'));
    std::string record = base + ".record";
    std::string pause = base + ".pause";
    std::string progress = base + ".progress";
    for (const std::string& stale : {record, pause + ".ready", pause + ".go", progress}) unlink(stale.c_str());

    std::vector<std::string> argv = {"wine", WindowsBuildDir() + "/ui-driver.exe", "--record", WindowsPath(record),
                                     "--timeout", std::to_string(plan.timeoutSeconds),
                                     "--delay", std::to_string(plan.delayMs)};
    if (!plan.windows.empty()) argv.insert(argv.end(), {"--windows", plan.windows});
    for (const std::string& answer : plan.answers) argv.insert(argv.end(), {"--answer", answer});
    if (!plan.arguments.empty()) argv.insert(argv.end(), {plan.argumentsUtf8 ? "--tail-utf8" : "--tail", Hex(plan.arguments)});
    for (const std::string& assignment : plan.environment) argv.insert(argv.end(), {"--env", assignment});
    if (plan.whileHeld || plan.fileSizeLimit >= 0) argv.insert(argv.end(), {"--pause", WindowsPath(pause)});
    if (!plan.workingFolder.empty()) argv.insert(argv.end(), {"--cwd", WindowsPath(plan.workingFolder)});
    if (plan.recordProgress) argv.insert(argv.end(), {"--progress", WindowsPath(progress)});
    argv.insert(argv.end(), {"--run", WindowsPath(program)});

    pid_t driver = Spawn(argv, WineEnvironment(plan.nativeDlls, plan.wineDebug, plan.locale), WorkDir(),
                         base + ".log", false);
    if (plan.whileHeld || plan.fileSizeLimit >= 0) {
        for (int waited = 0; waited < 30000 && !Exists(pause + ".ready"); waited += 20) SleepMs(20);
        if (!Exists(pause + ".ready")) {
            kill(driver, SIGTERM);
            Wait(driver);
            result.failure = "the driver never held the process (see " + base + ".log)";
            return result;
        }
        if (plan.fileSizeLimit >= 0) {
            std::vector<int> held = WineProcessesNamed(program.substr(program.rfind('/') + 1));
            struct rlimit limit = {static_cast<rlim_t>(plan.fileSizeLimit), static_cast<rlim_t>(plan.fileSizeLimit)};
            for (int pid : held) {
                if (prlimit(pid, RLIMIT_FSIZE, &limit, nullptr) != 0) held.clear();
            }
            if (held.empty()) result.failure = "no file size limit on the held process";
        }
        if (plan.whileHeld) plan.whileHeld();
        WriteLine(pause + ".go", "go");
    }
    int status = Wait(driver);
    if (status != 0 || !Exists(record)) {
        result.failure = "ui-driver ended with " + std::to_string(status) + " (see " + base + ".log)";
        return result;
    }
    result.boxes = ParseRecord(record, &result);
    std::ifstream steps(progress);
    ProgressStep step;
    while (steps >> step.position >> step.low >> step.high) result.progress.push_back(step);
    return result;
}

std::vector<int> WineProcessesNamed(const std::string& fileName) {
    // The kernel keeps the first 15 bytes of a process name.
    std::string name = fileName.substr(0, 15);
    std::vector<int> found;
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return found;
    while (struct dirent* entry = readdir(processes)) {
        if (!isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
        if (ReadLine(std::string("/proc/") + entry->d_name + "/comm") == name) found.push_back(atoi(entry->d_name));
    }
    closedir(processes);
    return found;
}

std::string WhyWineCannotRun() {
    static const std::string why = [] {
        const char* required = getenv("VALKRIN_REQUIRE_WINE");
        if (required != nullptr && *required != 0) return std::string();
        std::string output;
        if (RunCommand("command -v wine >/dev/null 2>&1", &output) != 0) {
            // The set-up records why it could not install Wine (a mirror out of step).
            const char* state = getenv("VALKRIN_STATE_DIR");
            std::string reason = ReadLine(std::string(state != nullptr ? state : "/var/lib/valkrin") +
                                          "/wine-not-installed");
            return "32-bit Wine is not installed" + (reason.empty() ? std::string() : " (" + reason + ")");
        }
        if (RunCommand("wine --version 2>&1", &output) == 0) return std::string();
        if (output.find("Exec format error") == std::string::npos) return std::string();
        return "this machine's kernel does not run 32-bit x86 programs, which 32-bit Wine needs (wine: " +
               output.substr(0, output.find('\n')) + ")";
    }();
    return why;
}

int RunPackTool(const std::string& arguments, std::string* output) {
    return RunCommand(PackTool() + " " + arguments + " 2>&1", output);
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    output->clear();
    char buffer[512];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) != 0) output->append(buffer, got);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace e2e
