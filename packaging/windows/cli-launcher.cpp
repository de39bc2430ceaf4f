// bin\quorlan-cli.exe: what a console finds when the installer puts quorlan-cli on PATH. It runs
// the real quorlan-cli.exe one folder up with the same command line, console and handles, and
// ends with its exit code. Only this folder goes on PATH: the program's own folder holds Qt's and
// the compiler's DLLs, which would be found there by other programs looking for theirs.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// The console's Ctrl+C reaches both processes; the program decides what it means, and this one
// waits for it to end. A handler rather than ignoring the signal: ignoring would be inherited.
BOOL WINAPI keepWaiting(DWORD type) { return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT; }

// The command line after this program's own name, by the rules the C runtime splits it with: a
// quoted name ends at the next quote, a bare one at the first blank.
const wchar_t *argumentsOf(const wchar_t *line) {
  if (*line == L'"') {
    ++line;
    while (*line && *line != L'"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != L' ' && *line != L'\t') ++line;
  }
  return line;
}

std::wstring ownFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/"));
}

void say(const wchar_t *text) {
  DWORD written = 0;
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (!WriteConsoleW(err, text, DWORD(wcslen(text)), &written, nullptr)) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), n, nullptr, nullptr);
    WriteFile(err, bytes.data(), DWORD(bytes.size() - 1), &written, nullptr);
  }
}

}  // namespace

int main() {
  const std::wstring folder = ownFolder();
  const std::wstring program = folder.substr(0, folder.find_last_of(L"\\/")) + L"\\quorlan-cli.exe";
  std::wstring line = L"\"" + program + L"\"" + argumentsOf(GetCommandLineW());

  // Ended with this process (a script's time limit, a closed console): the program holds a port.
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }

  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      nullptr, nullptr, &si, &pi)) {
    say((L"quorlan-cli: не удалось запустить " + program + L"\r\n").c_str());
    return 1;
  }
  if (job) AssignProcessToJobObject(job, pi.hProcess);  // may fail inside another job: then without
  SetConsoleCtrlHandler(keepWaiting, TRUE);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  return int(code);
}
