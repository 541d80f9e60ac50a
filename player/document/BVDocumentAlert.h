#pragma once

#include <QString>

#include <functional>

// An alert the document wants the user to see. The document opens no dialog: its window shows the
// alert (BVAlert) and hands the answer back; a document without a window only logs it.
struct BVDocumentAlert
{
    QString messageText;
    QString informativeText;
    QString defaultButton = QStringLiteral("OK");
    QString alternateButton;
    // Shown as a sheet on the document's window; false: on its own, outliving the window (the
    // file could not be opened and the empty window goes).
    bool onWindow = true;
    // Whether the window waits for the answer before it goes on.
    bool waitsForAnswer = false;
    // Told the answer (1 for the default button, 0 for the alternate) when the alert waits for it.
    std::function<void(int)> answered;
};
