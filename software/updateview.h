#pragma once

// What the update steps show on the dialog's update page. The dialog implements
// it and hands every change to the GUI thread, in call order.

enum class UpdateStep { Download, Firmware, Software, End };

class UpdateView {
public:
    virtual ~UpdateView() = default;
    virtual void setProgress(int percent) = 0;
    // text is an untranslated source text; the view translates it in the
    // "CMUpdater" context and appends it to the status list.
    virtual void appendLine(const char* text) = 0;
    virtual void markStep(UpdateStep step) = 0;   // the step starts: bold label
    virtual void unmarkStep(UpdateStep step) = 0; // the step is over: normal label
    virtual void hideDialog() = 0;
    virtual void endEventLoop(int code) = 0;
};
