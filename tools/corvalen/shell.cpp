// SPDX-License-Identifier: MIT
#include "shell.h"

#include <histedit.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "help.h"
#include "output.h"

namespace cli {
namespace {

constexpr std::size_t kLongestLine = 64 * 1024;
constexpr int kHistorySize = 1000;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The shell's state: the instrument open, and the options for the next open.
class Shell {
public:
    explicit Shell(const Arguments& args) : options_(args.open), form_(replyForm(args)) {}

    void open(const std::string& resource) {
        instrument_.close();
        instrument_ = openInstrument(resource, options_);
        requested_ = resource;
    }

    // Runs one line; false for :quit. Raises the failure of the line.
    bool execute(const std::string& text) {
        const std::string line = trimmed(text);
        if (line.empty()) return true;
        if (line[0] == ':') return shellCommand(line);
        if (!instrument_.isOpen()) throw UsageError("no instrument is open; :open RESOURCE opens one");
        if (isQuery(line)) {
            queryAndPrint(instrument_, line, form_);
        } else {
            instrument_.write(line);
        }
        return true;
    }

    [[nodiscard]] std::string prompt() const {
        return (instrument_.isOpen() ? requested_ : std::string("corvalen")) + "> ";
    }

private:
    bool shellCommand(const std::string& line) {
        const auto space = line.find_first_of(" \t");
        const std::string name = line.substr(0, space);
        const std::string operand = space == std::string::npos ? std::string() : trimmed(line.substr(space));
        if (name == ":quit" || name == ":exit" || name == ":q") return false;
        if (name == ":open") {
            if (operand.empty()) throw UsageError(":open needs a RESOURCE");
            open(operand);
        } else if (name == ":close") {
            instrument_.close();
        } else if (name == ":read") {
            requireOpen(name);
            printReply(form_ == ReplyForm::Text ? instrument_.read() : instrument_.readRaw(), form_);
        } else if (name == ":timeout") {
            setTimeout(operand);
        } else if (name == ":trace") {
            setTrace(operand);
        } else if (name == ":help") {
            std::fputs(shellHelpText().c_str(), stdout);
        } else {
            throw UsageError("unknown shell command " + name + "; :help lists them");
        }
        return true;
    }

    void requireOpen(const std::string& command) const {
        if (!instrument_.isOpen()) throw UsageError(command + ": no instrument is open");
    }

    void setTimeout(const std::string& operand) {
        if (operand.empty()) {
            std::printf("%lld ms\n", static_cast<long long>(options_.timeout.count()));
            return;
        }
        options_.timeout = parseMilliseconds(operand, ":timeout");
        if (instrument_.isOpen()) instrument_.setTimeout(options_.timeout);
    }

    void setTrace(const std::string& operand) {
        if (operand != "on" && operand != "off") throw UsageError(":trace takes on or off");
        options_.trace = operand == "on";
        if (instrument_.isOpen()) instrument_.setTrace(options_.trace);
    }

    corvalen::OpenOptions options_;
    ReplyForm form_;
    corvalen::Instrument instrument_;
    std::string requested_;
};

// One line of standard input into line, at most kLongestLine bytes; false
// at the end of input. Raises UsageError for a longer line.
bool readBatchLine(std::string& line) {
    line.clear();
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
        if (c == '\n') return true;
        if (line.size() >= kLongestLine) throw UsageError("a line longer than 64 KiB");
        line += static_cast<char>(c);
    }
    return !line.empty();
}

int runBatch(Shell& shell) {
    std::string line;
    for (long number = 1;; ++number) {
        try {
            if (!readBatchLine(line)) return kOk;
            const std::string command = trimmed(line);
            if (command.empty() || command[0] == '#') continue;
            if (!shell.execute(command)) return kOk;
        } catch (...) {
            return reportFailure("line " + std::to_string(number) + ": ");
        }
    }
}

// The history file, read at start and written after every line entered.
class HistoryFile {
public:
    HistoryFile() : history_(::history_init()), path_(historyPath()) {
        HistEvent event;
        ::history(history_, &event, H_SETSIZE, kHistorySize);
        ::history(history_, &event, H_SETUNIQUE, 1);
        if (!path_.empty()) ::history(history_, &event, H_LOAD, path_.c_str());
    }
    ~HistoryFile() { ::history_end(history_); }
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    [[nodiscard]] History* get() const { return history_; }

    void enter(const std::string& line) {
        HistEvent event;
        ::history(history_, &event, H_ENTER, line.c_str());
        if (path_.empty() || !makeFolder() || ::history(history_, &event, H_SAVE, path_.c_str()) < 0) {
            warnOnce();
        }
    }

private:
    bool makeFolder() const {
        for (auto slash = path_.find('/', 1); slash != std::string::npos; slash = path_.find('/', slash + 1)) {
            const std::string part = path_.substr(0, slash);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
        return true;
    }

    void warnOnce() {
        if (warned_) return;
        warned_ = true;
        printError(path_.empty() ? "warning: no history kept: neither XDG_STATE_HOME nor HOME is set"
                                 : "warning: cannot write the history " + path_ + ": " + std::strerror(errno));
    }

    History* history_;
    std::string path_;
    bool warned_ = false;
};

char* editPrompt(EditLine* editor) {
    void* data = nullptr;
    ::el_get(editor, EL_CLIENTDATA, &data);
    static std::string text;
    text = static_cast<Shell*>(data)->prompt();
    return text.data();
}

int runInteractive(Shell& shell) {
    HistoryFile history;
    EditLine* editor = ::el_init("corvalen", stdin, stdout, stderr);
    if (editor == nullptr) throw corvalen::IoError("shell: cannot set up line editing on the terminal");
    ::el_set(editor, EL_CLIENTDATA, &shell);
    ::el_set(editor, EL_PROMPT, editPrompt);
    ::el_set(editor, EL_EDITOR, "emacs");
    ::el_set(editor, EL_HIST, ::history, history.get());
    ::el_set(editor, EL_SIGNAL, 1);
    ::el_source(editor, nullptr);
    for (;;) {
        int count = 0;
        const char* read = ::el_gets(editor, &count);
        if (read == nullptr || count <= 0) break;
        const std::string line = trimmed(std::string(read, static_cast<std::size_t>(count)));
        if (line.empty()) continue;
        history.enter(line);
        try {
            if (!shell.execute(line)) break;
        } catch (...) {
            (void)reportFailure("");
        }
    }
    ::el_end(editor);
    return kOk;
}

}  // namespace

bool isQuery(const std::string& line) {
    const std::string text = trimmed(line);
    if (text.empty()) return false;
    if (text.back() == '?') return true;
    const auto semicolon = text.rfind(';');
    const std::string last = trimmed(semicolon == std::string::npos ? text : text.substr(semicolon + 1));
    const std::string header = last.substr(0, last.find_first_of(" \t"));
    return !header.empty() && header.back() == '?';
}

std::string historyPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/corvalen/history";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/corvalen/history";
    return {};
}

int runShell(const Arguments& args) {
    Shell shell(args);
    const bool interactive = ::isatty(STDIN_FILENO) == 1;
    if (!args.operands.empty()) {
        try {
            shell.open(args.operands[0]);
        } catch (...) {
            const int status = reportFailure("");
            if (!interactive) return status;
        }
    }
    return interactive ? runInteractive(shell) : runBatch(shell);
}

}  // namespace cli
