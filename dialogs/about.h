#pragma once

// The About box: product line, the program's file version and a link to
// the maker's web site.

#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QPushButton;

class TFormAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFormAbout(QWidget* parent = nullptr);

    // "major.minor.release.build" from the two 32-bit file-version words.
    static QString FormatFileVersion(quint32 mostSignificant, quint32 leastSignificant);
    // The running program's own file version words.
    static quint32 FileVersionMS();
    static quint32 FileVersionLS();

    static QString WebSite(); // shown in Label4
    static QUrl WebSiteUrl(); // opened by the link and by "Veltrane Online"

    QLabel* Image1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* LabelV = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* LabelC = nullptr;
    QPushButton* Button1 = nullptr;

    void Label4Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void SetLinkColour(const QColor& colour);
};

// The name the rest of the program knows the box by.
using TAboutBox = TFormAbout;
