// velumo_host: the console runner's mask command done by the real plug-in,
// the way the host application does it. It loads Velumo.dll from its own
// folder (beside the stand-in xdwapi.dll), finds the exports by their
// decorated names, asks the module for its command, hands it the selected
// documents in a CommandRequest and answers each message box the module
// shows as a user does: it reads the box and presses OK. What the runner
// prints, it prints: the boxes' texts on standard output, the stand-in's
// account of failed calls on standard error, and the runner's exit statuses.
//
//   velumo_host mask [--] FILE...
//   velumo_host batch CASES OUTDIR   (see RunBatch)
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hostsim/cp932.h"
#include "hostsim/hostsim.h"
#include "runner/call_failures.h"
#include "runner/display_text.h"
#include "runner/mask_arguments.h"
#include "runner/usage.h"
#include "tests/windows/expected_texts.h"
#include "tests/windows/message_boxes.h"
#include "tests/windows/plugin_loader.h"

namespace {

using masking::CommandOutcome;

// The module broke what it promises the host (details on standard error).
constexpr int kExitContractBroken = 5;

const runner::ProgramText kHostText = {
    "velumo_host",
    "usage: velumo_host mask [--] FILE...\n"
    "       velumo_host batch CASES OUTDIR\n"
    "       velumo_host --help | -h\n"
    "       velumo_host --version\n",
    "mask   runs the masking command of Velumo.dll (found beside this program, with\n"
    "       the stand-in xdwapi.dll) over stand-in host documents, as the host\n"
    "       application does, and answers each of its message boxes with OK.\n"
    "       Standard output holds the boxes' texts, one per line, in UTF-8; standard\n"
    "       error and the exit status are those of velumo mask. Status 5: the module\n"
    "       broke what it promises the host (a box without its caption, icon, OK\n"
    "       button or owner, a run without exactly one closing message...).\n"
    "batch  one run of mask for each line of CASES (its arguments, separated by\n"
    "       tabs), all in this one process; the Nth run's standard output, standard\n"
    "       error and status go to OUTDIR/N.out, N.err and N.status.\n",
    false};

// What the program keeps for the whole process: the module, the stand-in's
// controls and the window the boxes belong to.
struct Host {
  LoadedPlugin plugin;
  std::string commandName;
  HWND window = nullptr;
};

// One run of the command, as its message boxes tell it.
struct Run {
  const Host* host = nullptr;
  int boxes = 0;
  int closingMessages = 0;
  CommandOutcome outcome = CommandOutcome::kNotOurs;
  bool uncoveredPage = false;
  bool outputLost = false;
  bool contractBroken = false;
};

void Complain(Run& run, const std::string& problem) {
  std::fprintf(stderr, "velumo_host: %s\n", problem.c_str());
  run.contractBroken = true;
}

bool IsUnmaskablePageMessage(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  return digits > 0 &&
         text.compare(digits, std::strlen(kUnmaskablePageMessage), kUnmaskablePageMessage) == 0;
}

void OnMessageBox(const SeenMessageBox& box, void* context) {
  Run& run = *static_cast<Run*>(context);
  ++run.boxes;
  const std::string line = runner::DisplayText(box.text) + "\n";
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0) {
    run.outputLost = true;
  }
  const std::string which =
      "message box " + std::to_string(run.boxes) + " (" + runner::DisplayText(box.text) + "): ";
  if (box.caption != "Velumo") {
    Complain(run, which + "caption \"" + runner::DisplayText(box.caption) + "\", not \"Velumo\"");
  }
  if (!box.exclamationIcon) Complain(run, which + "no exclamation icon");
  if (box.buttons != 1 || !box.okButton) {
    Complain(run, which + std::to_string(box.buttons) + " buttons, not OK alone");
  }
  if (box.owner != run.host->window) Complain(run, which + "not owned by the active window");
  if (box.ownerEnabled) Complain(run, which + "its owner stays enabled: the box is not modal");

  if (box.text == kFinishedMessage) {
    run.outcome = CommandOutcome::kFinished;
  } else if (box.text == kStoppedMessage) {
    run.outcome = CommandOutcome::kStopped;
  } else if (box.text == kSelectDocumentsMessage) {
    run.outcome = CommandOutcome::kNothingSelected;
  } else {
    if (IsUnmaskablePageMessage(box.text)) run.uncoveredPage = true;
    if (run.closingMessages > 0) Complain(run, which + "shown after the closing message");
    return;
  }
  if (++run.closingMessages > 1) Complain(run, which + "a second closing message");
}

void ReportFailure(const HostSimFailure* failure) {
  hostsim::CallFailure copy;
  copy.ordinal = failure->ordinal;
  copy.hostPath = failure->hostPath;
  copy.page = failure->page;
  copy.annotation = failure->annotation;
  copy.attribute = failure->attribute;
  copy.result = failure->result;
  // The Windows stand-in speaks the ANSI code page: its paths and the
  // system's words alike.
  copy.reason = hostsim::Cp932ToUtf8ForDisplay(failure->reason);
  runner::PrintFailure(copy);
}

// The host application's main window: shown and active, so that the module's
// boxes belong to it.
HWND CreateHostWindow() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VelumoHost";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"VelumoHost", L"velumo_host", WS_OVERLAPPEDWINDOW, 40, 40, 480,
                                320, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetActiveWindow(window);
  }
  return window;
}

// Loads the module and learns its command, as the host does at start-up.
bool StartHost(Host& host) {
  if (GetACP() != 932) {
    std::fprintf(stderr,
                 "velumo_host: the ANSI code page is %u, not 932: run it in a Japanese locale "
                 "(LC_ALL=ja_JP.UTF-8)\n",
                 GetACP());
    return false;
  }
  std::string error;
  if (!LoadPluginModule(ProgramDirectory() + "Velumo.dll", &host.plugin, &error)) {
    std::fprintf(stderr, "velumo_host: %s\n", error.c_str());
    return false;
  }
  const HMODULE standIn = GetModuleHandleA("xdwapi.dll");
  const auto reportTo = reinterpret_cast<void (*)(void (*)(const HostSimFailure*))>(
      reinterpret_cast<void (*)()>(GetProcAddress(standIn, "HostSimReportFailuresTo")));
  const auto setRecording = reinterpret_cast<void (*)(int)>(
      reinterpret_cast<void (*)()>(GetProcAddress(standIn, "HostSimSetRecording")));
  if (reportTo == nullptr || setRecording == nullptr) {
    std::fprintf(stderr, "velumo_host: the xdwapi.dll beside Velumo.dll is not the stand-in\n");
    return false;
  }
  setRecording(0);  // nothing reads the call log here
  reportTo(ReportFailure);
  if (host.plugin.Initialize(0) != 1) {
    std::fprintf(stderr, "velumo_host: _PLG_Initialize@4 did not answer 1\n");
    return false;
  }
  std::int32_t size = 0;
  host.plugin.EnumerateCommands(nullptr, 0, &size);
  std::vector<char> name(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  if (size <= 0 || host.plugin.EnumerateCommands(name.data(), size, &size) != 1) {
    std::fprintf(stderr, "velumo_host: _PLG_EnumerateCommands@12 named no command\n");
    return false;
  }
  host.commandName.assign(name.data());
  host.window = CreateHostWindow();
  return host.window != nullptr;
}

// The host, started on first use: loading the module is the first thing the
// command does, not something the help or a usage error waits for. Null when
// it cannot start (and standard error says why).
Host* g_startedHost = nullptr;

const Host* TheHost() {
  static Host host;
  static const bool started = StartHost(host);
  if (started) g_startedHost = &host;
  return g_startedHost;
}

// One run of the command over `arguments` (those after "mask"); the status.
int Mask(const std::vector<std::string>& arguments) {
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  std::vector<std::string> paths;
  if (const auto status = runner::ReadMaskArguments(kHostText, static_cast<int>(pointers.size()),
                                                    pointers.data(), paths)) {
    return *status;
  }
  const Host* host = TheHost();
  if (host == nullptr) return kExitContractBroken;
  std::vector<const char*> selected;
  for (const std::string& path : paths) selected.push_back(path.c_str());

  Run run;
  run.host = host;
  CommandRequest request{};
  request.hostField0 = 0xDEADBEEFu;  // the host's own fields
  request.hostField8 = 0xFEEDFACEu;
  request.commandName = host->commandName.c_str();
  request.fileCount = static_cast<std::int32_t>(selected.size());
  request.filePaths = selected.empty() ? nullptr : selected.data();
  SetActiveWindow(host->window);
  AnswerMessageBoxes(OnMessageBox, &run);
  const std::int32_t handled = host->plugin.ExecuteCommand(&request);
  StopAnsweringMessageBoxes();

  if (handled != 1) Complain(run, "_PLG_ExecuteCommand@4 did not take its own command");
  if (run.closingMessages == 0) Complain(run, "the run ended without a closing message");
  if (StuckMessageBoxes() > 0) Complain(run, "a message box did not close with OK");
  if (!IsWindowEnabled(host->window)) Complain(run, "the host window was left disabled");
  if (run.contractBroken) return kExitContractBroken;
  if (run.outcome == CommandOutcome::kFinished && run.uncoveredPage) {
    run.outcome = CommandOutcome::kFinishedUncovered;
  }
  return runner::ExitStatusFor(run.outcome, run.outputLost);
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

// Runs mask once per line of `cases`, within this one process (the host
// application, too, runs the command again and again without reloading the
// module), so that a long series of runs costs one start of Wine.
int RunBatch(const std::string& cases, const std::string& outputs) {
  std::ifstream in(cases, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "velumo_host: cannot read %s\n", cases.c_str());
    return runner::kExitUsage;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    const std::string base = outputs + "\\" + std::to_string(++number);
    if (std::freopen((base + ".out").c_str(), "wb", stdout) == nullptr ||
        std::freopen((base + ".err").c_str(), "wb", stderr) == nullptr) {
      return runner::kExitStopped;
    }
    const int status = Mask(line.empty() ? std::vector<std::string>() : SplitTabs(line));
    std::fflush(stdout);
    std::fflush(stderr);
    std::ofstream(base + ".status") << status << "\n";
  }
  return runner::kExitDone;
}

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(std::strlen(out.c_str()));
  return out;
}

}  // namespace

// The arguments as the system has them (UTF-16; wmain, linked with
// -municode), in UTF-8 as the runner gets them from a Linux file system.
int wmain(int count, wchar_t** wide) {
  // The runner's bytes exactly: no CR before each LF.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(wide[i]));

  if (arguments.empty()) return runner::UsageError(kHostText, "no command given");
  const std::string& command = arguments[0];
  if (runner::IsHelp(command.c_str())) return runner::PrintHelp(kHostText);
  if (command == "--version") return runner::PrintVersion(kHostText);
  const bool batch = command == "batch";
  if (!batch && command != "mask") return runner::UsageError(kHostText, "unknown command");
  if (batch && arguments.size() != 3) {
    return runner::UsageError(kHostText, "batch takes the file of cases and the output folder");
  }
  const int status = batch ? RunBatch(arguments[1], arguments[2])
                           : Mask(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
  if (g_startedHost != nullptr) {  // the host lets the module go
    g_startedHost->plugin.CanFinalize(0);
    g_startedHost->plugin.Finalize(0);
  }
  return status;
}
