// The product's fixed names: registry value paths, folders and files that more
// than one step uses. Each is written here once.
#pragma once

// The product's own values, written by the package and the product.
#define IH_GENERAL_KEY L"HKEY_LOCAL_MACHINE\\Software\\Norvale\\LYN\\General"
#define IH_GENERAL_VALUE(name) IH_GENERAL_KEY L"\\\\" name

namespace names {

// The version the package installs, as it appears in file names.
#define IH_PRODUCT_VERSION L"4.9.0"
constexpr wchar_t kProductVersion[] = IH_PRODUCT_VERSION;
// The text log's folder below the Windows folder; captured output and vendor logs go there too.
#define IH_LOG_FOLDER_NAME L"NorvaleLogs"
constexpr wchar_t kWindowsTempSuffix[] = L"\\Temp";
constexpr wchar_t kLogFolderName[] = IH_LOG_FOLDER_NAME;
constexpr wchar_t kLogFolderSuffix[] = L"\\Temp\\" IH_LOG_FOLDER_NAME;
// The text log in that folder.
constexpr wchar_t kTextLogName[] = L"LYNInstLogs_" IH_PRODUCT_VERSION L".txt";

constexpr wchar_t kInstDirValue[] = IH_GENERAL_VALUE(L"InstDir");
constexpr wchar_t kCommonAppDataValue[] = IH_GENERAL_VALUE(L"CommonAppDataFolder");
constexpr wchar_t kBypassPidValue[] = IH_GENERAL_VALUE(L"LYNBypassExePid");
constexpr wchar_t kAboutPidValue[] = IH_GENERAL_VALUE(L"ORBAboutExePid");
constexpr wchar_t kVersionValue[] = IH_GENERAL_VALUE(L"Version");

// Below "CommonAppDataFolder" (which ends in a backslash).
#define IH_LOGS_BELOW_COMMON L"Norvale\\LYN\\Logs"
constexpr wchar_t kLogsBelowCommon[] = IH_LOGS_BELOW_COMMON;
constexpr wchar_t kLogsSubfolder[] = IH_LOGS_BELOW_COMMON L"\\";
#define IH_POLICY_FOLDER L"Norvale\\LYN\\Policy"
#define IH_POLICY_NAME L"LYNPolicy.opg"
constexpr wchar_t kPolicyFolderBelow[] = IH_POLICY_FOLDER;
constexpr wchar_t kPolicyName[] = IH_POLICY_NAME;
constexpr wchar_t kPolicyFile[] = IH_POLICY_FOLDER L"\\" IH_POLICY_NAME;
constexpr wchar_t kPolicyTempBelow[] = IH_POLICY_FOLDER L"\\Temp";
constexpr wchar_t kOlderPolicyFolderBelow[] = L"Veltan\\ORB\\Policy";
constexpr wchar_t kOlderPolicyName[] = L"ORBPolicy.opg";

// The product's folders as the pre-install checks know them.
#define IH_PROGRAM_FILES_MAKER L"C:\\Program Files\\Norvale"
#define IH_PROGRAM_FILES_LYN IH_PROGRAM_FILES_MAKER L"\\LYN"
#define IH_PROGRAMDATA L"C:\\ProgramData"
#define IH_PROGRAMDATA_MAKER IH_PROGRAMDATA L"\\Norvale"
#define IH_PROGRAMDATA_LYN IH_PROGRAMDATA_MAKER L"\\LYN"
constexpr wchar_t kProgramData[] = IH_PROGRAMDATA;
constexpr wchar_t kProgramFilesMaker[] = IH_PROGRAM_FILES_MAKER;
constexpr wchar_t kProgramDataMaker[] = IH_PROGRAMDATA_MAKER;
constexpr wchar_t kProgramFilesLyn[] = IH_PROGRAM_FILES_LYN;
constexpr wchar_t kProgramDataLyn[] = IH_PROGRAMDATA_LYN;
constexpr wchar_t kPolicyFolder[] = IH_PROGRAMDATA_LYN L"\\Policy";
constexpr wchar_t kPolicyTempFolder[] = IH_PROGRAMDATA_LYN L"\\Policy\\Temp";
constexpr wchar_t kLogsFolder[] = IH_PROGRAMDATA_LYN L"\\Logs";
constexpr wchar_t kLangFolder[] = IH_PROGRAM_FILES_LYN L"\\en";
constexpr wchar_t kX64Folder[] = IH_PROGRAM_FILES_LYN L"\\x64";
constexpr wchar_t kX64X64Folder[] = IH_PROGRAM_FILES_LYN L"\\x64\\x64";
constexpr wchar_t kX64X86Folder[] = IH_PROGRAM_FILES_LYN L"\\x64\\x86";
constexpr wchar_t kX86Folder[] = IH_PROGRAM_FILES_LYN L"\\x86";
constexpr wchar_t kX86X64Folder[] = IH_PROGRAM_FILES_LYN L"\\x86\\x64";
constexpr wchar_t kX86X86Folder[] = IH_PROGRAM_FILES_LYN L"\\x86\\x86";

// The maker's tray application and its plug-in.
constexpr wchar_t kTrayFolderValue[] =
    L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\KDX\\Shared Components\\Framework\\\\Installed Path";
constexpr wchar_t kTrayPluginKey[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltan\\Pinlet\\Plugins\\ORBPinletPlugin";

// The vendor platform's folder, registered in the 32-bit registry view.
constexpr wchar_t kBasaltKey[] = L"Software\\Veltan\\Basalt";
constexpr wchar_t kBasaltFolderValue[] = L"szInstallDir64";

// Programs of the product.
constexpr wchar_t kServiceExe[] = L"LynService.exe";
// The companion programs that store their process ids.
constexpr wchar_t kBypassExe[] = L"ORBBypass.exe";
constexpr wchar_t kAboutExe[] = L"ORBAbout.exe";

// Every process the library ends gets this exit code.
constexpr unsigned int kTerminatedExitCode = 0xDEAD;

}  // namespace names

// The module-service host and the proxy service in it.
namespace names {

constexpr wchar_t kQvmHostLibrary[] = L"vtnqvma.dll";
constexpr char kQvmControlInterface[] = "QvmControl";
constexpr wchar_t kQvmServiceName[] = L"vtnorb";
constexpr wchar_t kQvmClientName[] = L"INSTALLHELPER";
// The host client's own log, in the logs folder below kProgramData (fixed,
// never created): the name, followed by the client name and ".txt".
constexpr wchar_t kQvmInteractionLogStem[] = L"qvm_interaction_logs_";
// Behind "InstDir" as read, which ends in a backslash already.
constexpr wchar_t kServiceProfile[] = L"\\QVMProfileForLYNService.xml";
// The service of earlier releases in the Windows service control manager.
constexpr wchar_t kLegacyServiceOrb[] = L"ORBService";
constexpr wchar_t kLegacyServiceLyn[] = L"LYNService";

}  // namespace names
