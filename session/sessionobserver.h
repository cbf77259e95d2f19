#pragma once

#include "history/checkrecord.h"
#include "software/updateview.h"

// How a version check ended, as a face shows it.
struct CheckReport {
    CheckOutcome outcome;
    // The line the window leaves on its notice page when nothing is offered
    // (an untranslated source text); null when a new version is offered.
    const char* endText = nullptr;
    // The end is shown even without an offer: the user handed over this very
    // release (a folder) and waits to hear what became of it.
    bool endShown = false;
};

// A face of the updater: the window, a command line. It shows what the
// session reports and answers its one question; it decides nothing. Calls
// come on the session's threads (the agent's, the watchdog's, the caller's).
class SessionObserver : public UpdateView {
public:
    // The check is over. With an offer the session waits for the face's
    // choice or cancel; otherwise it ends the run itself.
    virtual void checkAnswered(const CheckReport& report) = 0;
    // Asked once the software package is chosen, before the download: whether
    // the user's private data are copied across the install.
    virtual bool keepPrivateData() = 0;
};
