#pragma once

#include "core/download/SameNameRule.h"

#include <QString>
#include <QStringList>

#include <optional>

// `quillfetch --download FILE`: the download session run from a terminal, without any window or
// display. It takes the user's stored choices of the desktop program, overridden by the
// arguments, and the stored login, site rules and journal.

// What the arguments asked for; an unset field takes the stored choice.
struct TerminalOptions {
    QString file;                           // "" only with `resume`
    QString folder;                         // as typed
    int mode = 0;                           // 1 or 2; 0: the stored one
    int threads = 0;                        // 1 to 6; 0: the stored count
    std::optional<SameNameChoice> sameName; // the stored rule when unset
    bool resume = false;
};

struct TerminalArguments {
    enum class Kind {
        Desktop,  // no terminal option: the windows start
        Help,     // --help
        Download, // --download FILE or --resume
        Bad,      // `error` says why
    };
    Kind kind = Kind::Desktop;
    TerminalOptions options;
    QString error;
};

// Reads the command line (without the program's name). Options Qt's own GUI start takes
// (-platform, -style, ...) belong to the desktop start and are bad input beside --download.
TerminalArguments ParseTerminalArguments(const QStringList& arguments);

// What --help prints.
QString TerminalHelpText();

// The exit codes: every row completed; some row failed, was not started or the file named
// entries that cannot be downloaded; bad input (nothing written); stopped by a signal (128 + its
// number, 130 for Ctrl+C).
namespace TerminalExit {
inline constexpr int Completed = 0;
inline constexpr int Failed = 1;
inline constexpr int BadInput = 2;
inline constexpr int SignalBase = 128;
} // namespace TerminalExit

// Runs the download inside an existing QCoreApplication (no QApplication, no display) and
// returns the exit code. Messages go to standard error, one line per ended row to standard
// output, and a progress line too when standard output is a terminal.
int RunTerminalDownload(const TerminalOptions& options);

// The User-Agent the browser profile sends by default, composed without making a profile.
QString DefaultBrowserUserAgent();
