// Help, the About box and the maker's web site.

#include "app/formmain.h"

#include "dialogs/about.h"
#include "ui/helpfile.h"
#include "ui/prompts.h"
#include "platform/application.h"

void TFormMain::HelpContents1Click() { THelpFile::ShowContents(); }

void TFormMain::HelpIndex1Click() { THelpFile::ShowIndex(); }

void TFormMain::AboutTarvik1Click()
{
    TFormAbout about(this);
    about.exec();
}

void TFormMain::VeltraneOnline1Click()
{
    if (!Shell().Open(TFormAbout::WebSiteUrl()))
        ShowMessageBox(QStringLiteral("Veltrane Online"),
                       QStringLiteral("No web browser could be started for ") + TFormAbout::WebSiteUrl().toString(), 0);
    Application::ProcessMessages();
}
