#include "dialogs/tools/toolhelp.h"

#include "ui/prompts.h"

#include <utility>

namespace {

TToolHelpHandler& Handler()
{
    static TToolHelpHandler handler;
    return handler;
}

} // namespace

void SetToolHelpHandler(TToolHelpHandler handler) { Handler() = std::move(handler); }

void ShowToolHelp(const QString& topic)
{
    if (Handler()) {
        Handler()(topic);
        return;
    }
    Prompts().Notice(QStringLiteral("Help"), QStringLiteral("Help is not available for this window."), 2);
}
