#include "support/ComponentSupport.h"

namespace testsupport {

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i == 0 ? "" : "|") + lines[i];
  return text;
}

std::string BothLogs::Records() const {
  std::vector<std::string> texts;
  for (const auto& record : m_session.records()) {
    const bool prefixed = record.text.compare(0, 9, L"Info [1].") == 0;
    texts.push_back(Narrow(record.text.substr(prefixed ? 9 : 0)));
  }
  return Joined(texts);
}

ScratchFolder::ScratchFolder(const std::wstring& name) : m_path(L"C:\\ih-components\\" + name) {
  RemoveTree(m_path);
  CreateDirectoryW(L"C:\\ih-components", nullptr);
  CreateDirectoryW(m_path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
  RemoveTree(m_path);
  RemoveDirectoryW(L"C:\\ih-components");  // once the last one is gone
}

void ComponentKeys::Clear() const {
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Norvale\\LYN\\General", KEY_WOW64_64KEY, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Veltan\\Basalt", KEY_WOW64_32KEY, 0);
}

void ComponentKeys::SetProduct(const wchar_t* name, const std::wstring& value) const {
  RegSetString(HKEY_LOCAL_MACHINE, L"Software\\Norvale\\LYN\\General", name, value, KEY_WOW64_64KEY);
}

void ComponentKeys::SetPlatformFolder(const std::wstring& folder) const {
  RegSetString(HKEY_LOCAL_MACHINE, L"Software\\Veltan\\Basalt", L"szInstallDir64", folder, KEY_WOW64_32KEY);
}

}  // namespace testsupport
