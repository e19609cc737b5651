#include "sim/core/language.h"


namespace tavu::sim {

namespace {

const wchar_t* const kEnglish[kBcdHeaderCount] = {
    L"Firmware Boot Manager", L"Windows Boot Manager",  L"Windows Boot Loader",   L"Resume from Hibernate",
    L"Windows Memory Tester", L"EMS Settings",          L"Debugger Settings",     L"RAM Defects",
    L"Global Settings",       L"Boot Loader Settings",  L"Hypervisor Settings",   L"Resume Loader Settings",
    L"Device options"};
const wchar_t* const kGerman[kBcdHeaderCount] = {
    L"Start-Manager f\u00fcr Firmware", L"Windows-Start-Manager", L"Windows-Startladeprogramm",
    L"Fortsetzen nach Ruhezustand", L"Windows-Speichertestprogramm", L"EMS-Einstellungen",
    L"Debuggereinstellungen", L"RAM-Defekte", L"Globale Einstellungen",
    L"Einstellungen f\u00fcr Startladeprogramm", L"Hypervisoreinstellungen",
    L"Einstellungen f\u00fcr Fortsetzungsladeprogramm", L"Ger\u00e4teoptionen"};
const wchar_t* const kFrench[kBcdHeaderCount] = {
    L"Gestionnaire de d\u00e9marrage du microprogramme", L"Gestionnaire de d\u00e9marrage Windows",
    L"Chargeur de d\u00e9marrage Windows", L"Reprise \u00e0 partir de la mise en veille prolong\u00e9e",
    L"Testeur de m\u00e9moire Windows", L"Param\u00e8tres EMS", L"Param\u00e8tres du d\u00e9bogueur",
    L"D\u00e9fauts de RAM", L"Param\u00e8tres globaux", L"Param\u00e8tres du chargeur de d\u00e9marrage",
    L"Param\u00e8tres de l\u2019hyperviseur", L"Param\u00e8tres du chargeur de reprise",
    L"Options de p\u00e9riph\u00e9rique"};
const wchar_t* const kSpanish[kBcdHeaderCount] = {
    L"Administrador de arranque de firmware", L"Administrador de arranque de Windows",
    L"Cargador de arranque de Windows", L"Reanudar desde la hibernaci\u00f3n",
    L"Comprobador de memoria de Windows", L"Configuraci\u00f3n de EMS", L"Configuraci\u00f3n del depurador",
    L"Defectos de RAM", L"Configuraci\u00f3n global", L"Configuraci\u00f3n del cargador de arranque",
    L"Configuraci\u00f3n del hipervisor", L"Configuraci\u00f3n del cargador de reanudaci\u00f3n",
    L"Opciones de dispositivo"};
const wchar_t* const kPolish[kBcdHeaderCount] = {
    L"Mened\u017cer rozruchu oprogramowania uk\u0142adowego", L"Mened\u017cer rozruchu systemu Windows",
    L"Modu\u0142 \u0142aduj\u0105cy rozruchu systemu Windows", L"Wzn\u00f3w ze stanu hibernacji",
    L"Tester pami\u0119ci systemu Windows", L"Ustawienia EMS", L"Ustawienia debugera", L"Wady pami\u0119ci RAM",
    L"Ustawienia globalne", L"Ustawienia modu\u0142u \u0142aduj\u0105cego rozruchu",
    L"Ustawienia funkcji hypervisor", L"Ustawienia modu\u0142u \u0142aduj\u0105cego wznowienia",
    L"Opcje urz\u0105dzenia"};
const wchar_t* const kRussian[kBcdHeaderCount] = {
    L"\u0414\u0438\u0441\u043f\u0435\u0442\u0447\u0435\u0440 \u0437\u0430\u0433\u0440\u0443\u0437\u043a\u0438 "
    L"\u043c\u0438\u043a\u0440\u043e\u043f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b",
    L"\u0414\u0438\u0441\u043f\u0435\u0442\u0447\u0435\u0440 \u0437\u0430\u0433\u0440\u0443\u0437\u043a\u0438 Windows",
    L"\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0430 Windows",
    L"\u0412\u043e\u0437\u043e\u0431\u043d\u043e\u0432\u043b\u0435\u043d\u0438\u0435 \u0438\u0437 "
    L"\u0433\u0438\u0431\u0435\u0440\u043d\u0430\u0446\u0438\u0438",
    L"\u041f\u0440\u043e\u0432\u0435\u0440\u043a\u0430 \u043f\u0430\u043c\u044f\u0442\u0438 Windows",
    L"\u041f\u0430\u0440\u0430\u043c\u0435\u0442\u0440\u044b EMS",
    L"\u041f\u0430\u0440\u0430\u043c\u0435\u0442\u0440\u044b \u043e\u0442\u043b\u0430\u0434\u0447\u0438\u043a\u0430",
    L"\u0414\u0435\u0444\u0435\u043a\u0442\u044b \u041e\u0417\u0423",
    L"\u0413\u043b\u043e\u0431\u0430\u043b\u044c\u043d\u044b\u0435 \u043f\u0430\u0440\u0430\u043c\u0435\u0442\u0440\u044b",
    L"\u041f\u0430\u0440\u0430\u043c\u0435\u0442\u0440\u044b \u0437\u0430\u0433\u0440\u0443\u0437\u0447\u0438\u043a\u0430",
    L"\u041f\u0430\u0440\u0430\u043c\u0435\u0442\u0440\u044b \u0433\u0438\u043f\u0435\u0440\u0432\u0438\u0437\u043e\u0440\u0430",
    L"\u041f\u0430\u0440\u0430\u043c\u0435\u0442\u0440\u044b \u0437\u0430\u0433\u0440\u0443\u0437\u0447\u0438\u043a\u0430 "
    L"\u0432\u043e\u0437\u043e\u0431\u043d\u043e\u0432\u043b\u0435\u043d\u0438\u044f",
    L"\u041f\u0430\u0440\u0430\u043c\u0435\u0442\u0440\u044b \u0443\u0441\u0442\u0440\u043e\u0439\u0441\u0442\u0432\u0430"};
const wchar_t* const kJapanese[kBcdHeaderCount] = {
    L"\u30d5\u30a1\u30fc\u30e0\u30a6\u30a7\u30a2 \u30d6\u30fc\u30c8 \u30de\u30cd\u30fc\u30b8\u30e3\u30fc",
    L"Windows \u30d6\u30fc\u30c8 \u30de\u30cd\u30fc\u30b8\u30e3\u30fc",
    L"Windows \u30d6\u30fc\u30c8 \u30ed\u30fc\u30c0\u30fc",
    L"\u4f11\u6b62\u72b6\u614b\u304b\u3089\u306e\u518d\u958b",
    L"Windows \u30e1\u30e2\u30ea \u30c6\u30b9\u30bf\u30fc", L"EMS \u8a2d\u5b9a",
    L"\u30c7\u30d0\u30c3\u30ac\u30fc\u8a2d\u5b9a", L"RAM \u306e\u6b20\u9665", L"\u30b0\u30ed\u30fc\u30d0\u30eb\u8a2d\u5b9a",
    L"\u30d6\u30fc\u30c8 \u30ed\u30fc\u30c0\u30fc\u306e\u8a2d\u5b9a",
    L"\u30cf\u30a4\u30d1\u30fc\u30d0\u30a4\u30b6\u30fc\u306e\u8a2d\u5b9a",
    L"\u518d\u958b\u30ed\u30fc\u30c0\u30fc\u306e\u8a2d\u5b9a",
    L"\u30c7\u30d0\u30a4\u30b9 \u30aa\u30d7\u30b7\u30e7\u30f3"};
const wchar_t* const kChinese[kBcdHeaderCount] = {
    L"\u56fa\u4ef6\u542f\u52a8\u7ba1\u7406\u5668", L"Windows \u542f\u52a8\u7ba1\u7406\u5668",
    L"Windows \u542f\u52a8\u52a0\u8f7d\u5668", L"\u4ece\u4f11\u7720\u4e2d\u6062\u590d",
    L"Windows \u5185\u5b58\u6d4b\u8bd5\u7a0b\u5e8f", L"EMS \u8bbe\u7f6e", L"\u8c03\u8bd5\u7a0b\u5e8f\u8bbe\u7f6e",
    L"RAM \u7f3a\u9677", L"\u5168\u5c40\u8bbe\u7f6e", L"\u542f\u52a8\u52a0\u8f7d\u5668\u8bbe\u7f6e",
    L"\u865a\u62df\u673a\u76d1\u63a7\u7a0b\u5e8f\u8bbe\u7f6e", L"\u6062\u590d\u52a0\u8f7d\u5668\u8bbe\u7f6e",
    L"\u8bbe\u5907\u9009\u9879"};

const SimLanguage kLanguages[] = {
    {"en-US", L"BUILTIN\\Administrators", L"identifier", 437, 1252, kEnglish},
    {"de-DE", L"VORDEFINIERT\\Administratoren", L"Bezeichner", 850, 1252, kGerman},
    {"fr-FR", L"BUILTIN\\Administrateurs", L"identificateur", 850, 1252, kFrench},
    {"es-ES", L"BUILTIN\\Administradores", L"identificador", 850, 1252, kSpanish},
    {"pl-PL", L"BUILTIN\\Administratorzy", L"identyfikator", 852, 1250, kPolish},
    {"ru-RU", L"BUILTIN\\\u0410\u0434\u043c\u0438\u043d\u0438\u0441\u0442\u0440\u0430\u0442\u043e\u0440\u044b",
     L"\u0438\u0434\u0435\u043d\u0442\u0438\u0444\u0438\u043a\u0430\u0442\u043e\u0440", 866, 1251, kRussian},
    {"ja-JP", L"BUILTIN\\Administrators", L"\u8b58\u5225\u5b50", 932, 932, kJapanese},
    {"zh-CN", L"BUILTIN\\Administrators", L"\u6807\u8bc6\u7b26", 936, 936, kChinese},
};

// Upper case for the scripts these names are written in: ASCII, Latin-1 and
// Cyrillic; the account lookup ignores case.
wchar_t Upper(wchar_t c) {
  if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x430 && c <= 0x44F)) {
    return static_cast<wchar_t>(c - 0x20);
  }
  return c;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

}  // namespace

const SimLanguage* FindSimLanguage(const std::string& tag) {
  for (const SimLanguage& l : kLanguages) {
    if (tag == l.tag) return &l;
  }
  return nullptr;
}

const SimLanguage& DefaultSimLanguage() { return kLanguages[0]; }

std::string KnownSimLanguageTags() {
  std::string all;
  for (const SimLanguage& l : kLanguages) all += (all.empty() ? "" : ", ") + std::string(l.tag);
  return all;
}

const wchar_t* HeaderText(const SimLanguage& language, BcdHeader header) {
  return language.headers[static_cast<int>(header)];
}

bool NamesAdministrators(const SimLanguage& language, const std::wstring& name) {
  if (SameName(name, kAdministratorsSid)) return true;
  const std::wstring full = language.administrators;
  const std::size_t slash = full.find(L'\\');
  return SameName(name, full) || (slash != std::wstring::npos && SameName(name, full.substr(slash + 1)));
}

bool NamesSystem(const SimLanguage& /*language*/, const std::wstring& name) {
  return SameName(name, L"S-1-5-18") || SameName(name, L"SYSTEM") || SameName(name, L"NT AUTHORITY\\SYSTEM");
}

}  // namespace tavu::sim
