#pragma once

// The program's help: one HTML file with an anchor per topic ("contents",
// "index" and the IDH_ topics of the dialogs), opened in the desktop's
// browser. It is looked up beside the executable, in the installed data
// folder and, for a program run from its build tree, in the source tree.

#include <QString>
#include <QStringList>

class THelpFile {
public:
    static QString FileName(); // "tarvik.html"

    // Folders searched, in order.
    static QStringList SearchFolders();
    // Replaces the folders searched (tests); an empty list restores them.
    static void SetSearchFolders(const QStringList& folders);

    // Full path of the help file, empty when none of the folders holds it.
    static QString Locate();

    // Opens the help at `topic` (an anchor name). When the file is missing
    // or the desktop cannot open it, says so in a notice and returns false.
    static bool ShowTopic(const QString& topic);
    static bool ShowContents() { return ShowTopic(QStringLiteral("contents")); }
    static bool ShowIndex() { return ShowTopic(QStringLiteral("index")); }
};
