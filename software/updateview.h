#pragma once

// What the update steps show on the dialog's update page. The dialog implements
// it and hands every change to the GUI thread, in call order.

#include <QList>
#include <QStringList>

enum class UpdateStep { Download, Firmware, Software, End };

class UpdateView {
public:
    virtual ~UpdateView() = default;
    virtual void setProgress(int percent) = 0;
    // The same with the bar's own text, in which "%p" stands for the percentage;
    // a view without text on its bar shows the percentage alone.
    virtual void setProgress(int percent, const QString& /*text*/) { setProgress(percent); }
    // text is an untranslated source text; the view translates it in the
    // "CMUpdater" context and appends it to the status list.
    virtual void appendLine(const char* text) = 0;
    // The same with "%1", "%2"... of the translated text filled in by
    // arguments; a view that only keeps the source texts may ignore them.
    virtual void appendLine(const char* text, const QStringList& /*arguments*/)
    {
        appendLine(text);
    }
    // appendLine's text, unless a line of the same text was added for the same
    // scope already. An empty scope matches every line of that text; a named
    // one only lines added for it, so each download tells its start and end once.
    virtual void appendLineOnce(const char* text, const QString& scope = {}) = 0;
    virtual void markStep(UpdateStep step) = 0;   // the step starts: bold label
    virtual void unmarkStep(UpdateStep step) = 0; // the step is over: normal label
    virtual void hideDialog() = 0;
    // One warning box holding the texts (untranslated source texts, translated
    // like appendLine's), returning once the user has answered it.
    virtual void showWarning(const QList<const char*>& texts) = 0;
    virtual void endEventLoop(int code) = 0;
};

// A firmware step that is not run: the modem is left alone.
inline void reportFirmwareSkipped(UpdateView& view)
{
    view.appendLine(QT_TRANSLATE_NOOP("CMUpdater", "Update  firmware failed."));
    view.unmarkStep(UpdateStep::Firmware);
    view.setProgress(100);
}
