#pragma once

// What a device utility tells its user after an action: message boxes of three kinds, each with the
// text to show as it stands and, beside it, the reason the device link or the system gave.

#include <memory>
#include <string>
#include <vector>

#include <device/device_session.hpp>

namespace torvik::studio {

struct DeviceMessage {
    enum class Kind { Information, Warning, Error };
    Kind kind = Kind::Information;
    std::string text;    ///< the message box's text
    std::string detail;  ///< why, in the device link's or the system's words; empty when there is nothing to add
};

/// The messages of one action, in the order they are shown.
struct DeviceOutcome {
    std::vector<DeviceMessage> messages;

    /// True unless a warning or an error is among the messages.
    bool Succeeded() const;
};

/// The text and detail on one line, as the command line prints a message: "TEXT (DETAIL)".
std::string OneLine(const DeviceMessage& message);
/// Every message of the outcome on one line, separated by blanks, the first detail at the end.
std::string OneLine(const DeviceOutcome& outcome);

/// Makes a failed opening's outcome the one error `openFailure`, with the first message's detail.
void AsOpeningFailure(DeviceOutcome& outcome, const std::string& openFailure);

/// Restarts the device after a successful set, as every utility does, and confirms it answers again.
/// On failure adds the error "Can't restart Torvik4 device." whose detail starts with `whatWasSet`
/// ("the clock was set") and returns false. Blocks up to about six seconds.
bool RestartAfterSet(DeviceSession& session, const std::string& whatWasSet, DeviceOutcome& outcome);

/// Opens a session on `port` with the utilities' time-outs of 1000 ms. An empty port (none chosen) or a
/// failed connection gives nullptr and `failure` set to an error with `failureText` and the reason.
/// Blocks for the connection (up to about a time-out); any thread, one session per thread.
std::unique_ptr<DeviceSession> OpenUtilitySession(const std::string& port, const std::string& failureText,
                                                  DeviceMessage& failure);

/// What opening a utility gives: the session and the first reading, or a null session and the opening
/// error in the reading's outcome.
template <typename Reading>
struct UtilityOpening {
    std::unique_ptr<DeviceSession> session;
    Reading reading;
};

/// Opens a session on `port` (empty: none chosen) and takes the first reading with `read(session)`.
/// When either fails, the session is closed again and the outcome holds the one error `failureText`
/// with the reason. Blocks as the connection and `read` do.
template <typename Reading, typename Read>
UtilityOpening<Reading> OpenUtility(const std::string& port, const std::string& failureText, Read read)
{
    UtilityOpening<Reading> opening;
    DeviceMessage failure;
    opening.session = OpenUtilitySession(port, failureText, failure);
    if (!opening.session) {
        opening.reading.outcome.messages.push_back(failure);
        return opening;
    }
    opening.reading = read(*opening.session);
    if (!opening.reading.outcome.Succeeded()) {
        opening.session.reset();
        AsOpeningFailure(opening.reading.outcome, failureText);
    }
    return opening;
}

}  // namespace torvik::studio
