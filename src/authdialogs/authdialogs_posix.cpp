// authdialogs on Linux: the dialogs as questions on the controlling terminal
// (/dev/tty), or answered from the answers file that VELTOEAP_DIALOG_ANSWERS
// names. With neither, every dialog reads as cancelled.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/memory.h"
#include "abi/authdialogs.h"
#include "authdialogs/answers.h"
#include "authdialogs/dialog_model.h"
#include "authdialogs/text_dialogs.h"

namespace {

using namespace velto::dialogs;

constexpr char kAnswersVariable[] = "VELTOEAP_DIALOG_ANSWERS";
constexpr int kConfigurationDialog = 12;
constexpr int kCredentialDialog = 3;
constexpr int kPollMilliseconds = 200;

// One dialog at a time on the terminal and in the answers file.
std::mutex g_dialog_mutex;

// ---- the lists: copied inside SetScList (the SIM library's thread) and in
// CreateScDlg; the dialog reads snapshots of the copies.

std::mutex g_lists_mutex;
VELTO_SC_LIST_V120 g_sc_list;  // guarded by g_lists_mutex, as the two below
VELTO_SIM_LIST g_sim_list;
unsigned long g_lists_generation = 0;

template <typename List>
void CopyList(List* copy, const List* list) {
  if (list != nullptr) {
    std::memcpy(copy, list, sizeof *copy);
  } else {
    std::memset(copy, 0, sizeof *copy);
  }
}

// The dialog thread's view of the copies.
class ListView {
 public:
  // Takes a snapshot when the lists changed since the last one; true then.
  bool Take() {
    std::lock_guard<std::mutex> lock(g_lists_mutex);
    if (taken_ && seen_ == g_lists_generation) return false;
    std::memcpy(sc_.get(), &g_sc_list, sizeof g_sc_list);
    std::memcpy(sim_.get(), &g_sim_list, sizeof g_sim_list);
    seen_ = g_lists_generation;
    taken_ = true;
    return true;
  }
  bool Refresh(SmartCardForm* form) {
    if (!Take()) return false;
    RefreshSmartCardForm(form, sc_.get(), sim_.get());
    return true;
  }
  const VELTO_SC_LIST_V120* sc() const { return sc_.get(); }
  const VELTO_SIM_LIST* sim() const { return sim_.get(); }

 private:
  std::unique_ptr<VELTO_SC_LIST_V120> sc_ = std::make_unique<VELTO_SC_LIST_V120>();
  std::unique_ptr<VELTO_SIM_LIST> sim_ = std::make_unique<VELTO_SIM_LIST>();
  unsigned long seen_ = 0;
  bool taken_ = false;
};

// ---- the terminal

int g_tty_for_signal = -1;  // where a signal handler puts the saved modes back
struct termios g_saved_modes;
volatile sig_atomic_t g_modes_changed = 0;

void RestoreAndReraise(int signal_number) {
  if (g_modes_changed) tcsetattr(g_tty_for_signal, TCSANOW, &g_saved_modes);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Echo off for one secret line, restored whatever ends the read (a signal
// that ends the process included).
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (tcgetattr(fd, &g_saved_modes) != 0) return;
    struct termios quiet = g_saved_modes;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    g_tty_for_signal = fd;
    struct sigaction action {};
    action.sa_handler = RestoreAndReraise;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignals; ++i) sigaction(kSignalList[i], &action, &previous_[i]);
    g_modes_changed = 1;
    on_ = tcsetattr(fd, TCSANOW, &quiet) == 0;
  }
  ~EchoOff() {
    if (g_modes_changed == 0) return;
    tcsetattr(fd_, TCSANOW, &g_saved_modes);
    g_modes_changed = 0;
    for (size_t i = 0; i < kSignals; ++i) sigaction(kSignalList[i], &previous_[i], nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  bool on() const { return on_; }

 private:
  static constexpr size_t kSignals = 4;
  static constexpr int kSignalList[kSignals] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  int fd_;
  bool on_ = false;
  struct sigaction previous_[kSignals] {};
};

class TerminalConsole : public Console {
 public:
  // The controlling terminal, or null when the process has none.
  static std::unique_ptr<TerminalConsole> Open() {
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::unique_ptr<TerminalConsole>(new TerminalConsole(fd));
  }
  ~TerminalConsole() override { ::close(fd_); }
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  void Write(const std::string& text) override {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  ReadResult ReadLine(SecretString* line, bool secret,
                      const std::function<bool()>& changed) override {
    line->clear();
    std::unique_ptr<EchoOff> echo_off;
    if (secret) {
      echo_off = std::make_unique<EchoOff>(fd_);
      // Never ask for a secret on a terminal that would show it.
      if (!echo_off->on()) return ReadResult::kEnd;
    }
    // The terminal hands over whole lines, so the lists are looked at only
    // while no line is ready.
    for (;;) {
      struct pollfd ready {fd_, POLLIN, 0};
      int n = ::poll(&ready, 1, kPollMilliseconds);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ReadResult::kEnd;
      if (n == 0) {
        if (changed && changed()) return ReadResult::kChanged;
        continue;
      }
      for (;;) {
        char c;
        ssize_t got = ::read(fd_, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return line->empty() ? ReadResult::kEnd : ReadResult::kLine;
        if (c == '\n') return ReadResult::kLine;
        line->push_back(c);
      }
    }
  }

 private:
  explicit TerminalConsole(int fd) : fd_(fd) {}
  int fd_;
};

// ---- the answers file: one section per dialog shown, in order, for the
// life of the process.

std::string g_answers_path;  // guarded by g_dialog_mutex, as the cursor
size_t g_answers_next = 0;

// The whole file, into a secret text: it holds passwords and PINs, and a
// stream would keep copies in buffers of its own.
bool ReadAnswersFile(const std::string& path, SecretString* text) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && status.st_size > 0) text->reserve(static_cast<size_t>(status.st_size));
  char chunk[512];
  bool ok = true;
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    text->append(chunk, static_cast<size_t>(got));
  }
  velto::SecureWipe(chunk, sizeof chunk);
  ::close(fd);
  return ok;
}

bool TakeSection(const std::string& path, const char* expected, AnswerSection* section,
                 std::string* error) {
  if (path != g_answers_path) {
    g_answers_path = path;
    g_answers_next = 0;
  }
  SecretString text;
  if (!ReadAnswersFile(path, &text)) {
    *error = "cannot be read";
    return false;
  }
  std::vector<AnswerSection> sections;
  if (!ParseAnswers(text, &sections, error)) return false;
  if (g_answers_next >= sections.size()) {
    *error = std::string("no section left for the ") + expected + " dialog (" +
             std::to_string(sections.size()) + " used)";
    Wipe(&sections);
    return false;
  }
  *section = std::move(sections[g_answers_next++]);
  Wipe(&sections);
  if (section->name != expected) {
    *error = "line " + std::to_string(section->line) + ": [" + section->name +
             "] where the " + expected + " dialog is shown";
    return false;
  }
  return true;
}

// Shows one dialog: from the answers file when one is named, else on the
// terminal. True when confirmed.
bool ShowDialog(const char* name, const std::function<bool(Console&)>& ask,
                const std::function<bool(const AnswerSection&, std::string*)>& answer) {
  std::lock_guard<std::mutex> lock(g_dialog_mutex);
  const char* path = std::getenv(kAnswersVariable);
  if (path != nullptr && path[0] != '\0') {
    AnswerSection section;
    std::string error;
    bool confirmed = TakeSection(path, name, &section, &error) && answer(section, &error);
    if (!confirmed && !error.empty()) {
      std::fprintf(stderr, "authdialogs: %s: the %s dialog is cancelled:\n%s%s", path, name,
                   error.c_str(), error.back() == '\n' ? "" : "\n");
    }
    for (Answer& a : section.answers) Wipe(&a.value);
    return confirmed;
  }
  std::unique_ptr<TerminalConsole> console = TerminalConsole::Open();
  if (!console) {
    std::fprintf(stderr,
                 "authdialogs: no terminal to ask on and %s names no answers file: the %s dialog "
                 "is cancelled\n",
                 kAnswersVariable, name);
    return false;
  }
  bool confirmed = ask(*console);
  console->Write(confirmed ? "Saved.\n" : "Cancelled.\n");
  return confirmed;
}

int ConfigurationDialog(_VELTO_WLAN_PROFILE_V120* profile, int* password_changed) {
  ConfigForm form = LoadConfigForm(*profile);
  bool confirmed = ShowDialog(
      "config", [&](Console& console) { return AskConfigForm(console, &form); },
      [&](const AnswerSection& section, std::string* error) {
        return AnswerConfigForm(section, &form, error);
      });
  if (confirmed) StoreConfigForm(form, profile, password_changed);
  Wipe(&form);
  return confirmed ? 1 : 0;
}

int CredentialDialog(_VELTO_WLAN_PROFILE_V120* profile) {
  CredentialForm form = LoadCredentialForm(*profile);
  bool confirmed = ShowDialog(
      "credential", [&](Console& console) { return AskCredentialForm(console, &form); },
      [&](const AnswerSection& section, std::string* error) {
        return AnswerCredentialForm(section, &form, error);
      });
  if (confirmed) StoreCredentialForm(form, profile);
  Wipe(&form);
  return confirmed ? 1 : 0;
}

}  // namespace

extern "C" int Create1XDlg(C8021X_DLGS dialog, _VELTO_WLAN_PROFILE_V120* profile,
                           VELTO_DOT1X_AUTH_FAIL_CODE, _C8021X_SETTINGS_WINDOW_MODE, HWND,
                           int* password_changed) {
  if (profile == nullptr) return 0;
  if (dialog == kConfigurationDialog) return ConfigurationDialog(profile, password_changed);
  if (dialog == kCredentialDialog) return CredentialDialog(profile);
  std::fprintf(stderr, "authdialogs: there is no dialog %d (12: settings, 3: sign-in)\n", dialog);
  return 0;
}

extern "C" int CreateScDlg(_VELTO_WLAN_PROFILE_V120* profile, VELTO_DOT1X_AUTH_FAIL_CODE fail_code,
                           _C8021X_SETTINGS_WINDOW_MODE, HWND, VELTO_SC_LIST_V120* sc_list,
                           VELTO_SIM_LIST* sim_list) {
  {
    std::lock_guard<std::mutex> lock(g_lists_mutex);
    CopyList(&g_sc_list, sc_list);
    CopyList(&g_sim_list, sim_list);
    ++g_lists_generation;
  }
  if (profile == nullptr) return 0;
  ListView view;
  view.Take();
  SmartCardForm form = LoadSmartCardForm(*profile, fail_code, view.sc(), view.sim());
  RefreshLists refresh = [&view](SmartCardForm* f) { return view.Refresh(f); };
  bool confirmed = ShowDialog(
      "smartcard", [&](Console& console) { return AskSmartCardForm(console, &form, refresh); },
      [&](const AnswerSection& section, std::string* error) {
        return AnswerSmartCardForm(section, &form, refresh, error);
      });
  if (confirmed) StoreSmartCardForm(form, profile);
  Wipe(&form);
  return confirmed ? 1 : 0;
}

extern "C" int SetScListSc(VELTO_SC_LIST_V120* sc_list) {
  if (sc_list == nullptr) return 0;
  std::lock_guard<std::mutex> lock(g_lists_mutex);
  std::memcpy(&g_sc_list, sc_list, sizeof g_sc_list);
  ++g_lists_generation;
  return 1;
}

extern "C" int SetScListSim(VELTO_SIM_LIST* sim_list) {
  if (sim_list == nullptr) return 0;
  std::lock_guard<std::mutex> lock(g_lists_mutex);
  std::memcpy(&g_sim_list, sim_list, sizeof g_sim_list);
  ++g_lists_generation;
  return 1;
}
