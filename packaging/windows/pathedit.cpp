// The installer's helper for the system-wide PATH: `quorlan-pathedit add DIR` appends DIR unless
// it is there, `quorlan-pathedit remove DIR` takes every entry naming DIR out. Nothing else in
// the value changes: not the other entries, their order, their %VARIABLES%, nor the value's type.
// The installer's own string functions stop at 1024 characters, and a PATH cut there would be a
// broken system. Exit code 0 when PATH holds what was asked (changed or not), 1 otherwise.
#include <windows.h>

#include <string>
#include <vector>

namespace {

const wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const size_t kMaxVariable = 32767;  // what the system passes to a process, terminator included

std::wstring expanded(const std::wstring &s) {
  std::wstring out(kMaxVariable, L'\0');
  const DWORD n = ExpandEnvironmentStringsW(s.c_str(), out.data(), DWORD(out.size()));
  if (n == 0 || n > out.size()) return s;
  out.resize(n - 1);
  return out;
}

// An entry names `dir` when both are the same folder as written, or once expanded, apart from
// letter case, surrounding quotes and trailing backslashes.
std::wstring folderKey(std::wstring s) {
  s = expanded(s);
  if (s.size() >= 2 && s.front() == L'"' && s.back() == L'"') s = s.substr(1, s.size() - 2);
  while (s.size() > 3 && (s.back() == L'\\' || s.back() == L'/')) s.pop_back();
  if (!s.empty()) CharUpperBuffW(s.data(), DWORD(s.size()));
  return s;
}

std::vector<std::wstring> split(const std::wstring &path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(L';', start);
    parts.push_back(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    if (end == std::wstring::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc != 3) return 1;
  const std::wstring op = argv[1];
  const std::wstring dir = argv[2];
  if ((op != L"add" && op != L"remove") || dir.empty() || dir.find(L';') != std::wstring::npos)
    return 1;

  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return 1;
  DWORD type = REG_EXPAND_SZ, bytes = 0;
  std::wstring path;
  LSTATUS rc = RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &bytes);
  if (rc == ERROR_SUCCESS) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      RegCloseKey(key);
      return 1;
    }
    path.resize(bytes / sizeof(wchar_t) + 1);
    bytes = DWORD(path.size() * sizeof(wchar_t));
    rc = RegQueryValueExW(key, L"Path", nullptr, &type,
                          reinterpret_cast<BYTE *>(path.data()), &bytes);
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      return 1;
    }
    path.resize(bytes / sizeof(wchar_t));
    while (!path.empty() && path.back() == L'\0') path.pop_back();
  } else if (rc != ERROR_FILE_NOT_FOUND) {
    RegCloseKey(key);
    return 1;
  }

  const std::wstring wanted = folderKey(dir);
  std::wstring result;
  bool changed = false;
  if (op == L"add") {
    bool present = false;
    for (const std::wstring &part : split(path)) present = present || folderKey(part) == wanted;
    result = path;
    if (!present) {
      if (!result.empty() && result.back() != L';') result += L';';
      result += dir;
      changed = true;
    }
  } else {
    bool first = true;
    for (const std::wstring &part : split(path)) {
      if (!part.empty() && folderKey(part) == wanted) {
        changed = true;
        continue;
      }
      if (!first) result += L';';
      result += part;
      first = false;
    }
  }

  bool ok = true;
  if (changed) {
    if (result.size() >= kMaxVariable) {
      ok = false;
    } else {
      ok = RegSetValueExW(key, L"Path", 0, type, reinterpret_cast<const BYTE *>(result.c_str()),
                          DWORD((result.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
      // Explorer and the programs it starts take the new value from this message.
      if (ok)
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 5000, nullptr);
    }
  }
  RegCloseKey(key);
  return ok ? 0 : 1;
}
