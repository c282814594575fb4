#include "support/gui/scriptedprompts.h"

namespace testsupport {

ScriptedPrompts::ScriptedPrompts() { SetPrompts(this); }
ScriptedPrompts::~ScriptedPrompts() { SetPrompts(nullptr); }

QStringList ScriptedPrompts::Notices() const
{
    QStringList out;
    for (const PromptRecord& r : records_)
        if (r.kind == QLatin1String("notice"))
            out << r.caption + QLatin1Char('|') + r.text;
    return out;
}

void ScriptedPrompts::Clear()
{
    records_.clear();
    unexpected_ = 0;
    beeps_ = 0;
}

void ScriptedPrompts::Notice(const QString& caption, const QString& text, int kind)
{
    records_.append({QStringLiteral("notice"), caption, text, kind});
}

QMessageBox::StandardButton ScriptedPrompts::Question(QWidget*, const QString& caption, const QString& text,
                                                      QMessageBox::StandardButtons, QMessageBox::StandardButton,
                                                      QMessageBox::StandardButton escapeButton, QMessageBox::Icon)
{
    records_.append({QStringLiteral("question"), caption, text});
    if (questions_.empty()) {
        ++unexpected_;
        return escapeButton;
    }
    const QMessageBox::StandardButton answer = questions_.front();
    questions_.pop_front();
    return answer;
}

bool ScriptedPrompts::Password(QWidget*, const QString& caption, const QString& prompt, QString& value)
{
    return Answer(QStringLiteral("password"), caption, prompt, value);
}

bool ScriptedPrompts::Input(QWidget*, const QString& caption, const QString& prompt, QString& value)
{
    return Answer(QStringLiteral("input"), caption, prompt, value);
}

TSameNameAnswer ScriptedPrompts::SameName(QWidget*, const QString& caption, const QString& text, bool canResume,
                                          bool& applyToAll)
{
    records_.append({QStringLiteral("samename"), caption, text, canResume ? 1 : 0});
    if (sameNames_.empty()) {
        ++unexpected_;
        applyToAll = false;
        return TSameNameAnswer::Skip;
    }
    const auto [answer, all] = sameNames_.front();
    sameNames_.pop_front();
    applyToAll = all;
    return answer;
}

bool ScriptedPrompts::Answer(const QString& kind, const QString& caption, const QString& prompt, QString& value)
{
    records_.append({kind, caption, prompt});
    if (inputs_.empty()) {
        ++unexpected_;
        return false;
    }
    const InputAnswer answer = inputs_.front();
    inputs_.pop_front();
    if (answer.ok)
        value = answer.text;
    return answer.ok;
}

namespace {
QString Take(std::deque<QString>& queue, int& unexpected)
{
    if (queue.empty()) {
        ++unexpected;
        return {};
    }
    QString answer = queue.front();
    queue.pop_front();
    return answer;
}
} // namespace

QString ScriptedPrompts::SelectFolder(QWidget*, const QString& caption, const QString& start)
{
    records_.append({QStringLiteral("folder"), caption, start});
    return Take(folders_, unexpected_);
}

QString ScriptedPrompts::SaveFileName(QWidget*, const QString& caption, const QString& start, const QString&,
                                      const QString& defaultSuffix)
{
    records_.append({QStringLiteral("save"), caption, start});
    QString file = Take(saves_, unexpected_);
    // The real dialog appends the default suffix to a bare name; so do we.
    if (!file.isEmpty() && !defaultSuffix.isEmpty() && !file.section(QLatin1Char('/'), -1).contains(QLatin1Char('.')))
        file += QLatin1Char('.') + defaultSuffix;
    return file;
}

QString ScriptedPrompts::OpenFileName(QWidget*, const QString& caption, const QString& start, const QString&)
{
    records_.append({QStringLiteral("open"), caption, start});
    return Take(opens_, unexpected_);
}

RecordingShell::RecordingShell() { SetShell(this); }
RecordingShell::~RecordingShell() { SetShell(nullptr); }

TCertificateAnswer ScriptedPrompts::Certificate(QWidget*, const TCertificatePrompt& prompt)
{
    records_.append({QStringLiteral("certificate"), prompt.Host, prompt.Reason});
    certificatePrompts_.append(prompt);
    if (certificates_.empty()) {
        ++unexpected_;
        return TCertificateAnswer::Cancel;
    }
    const TCertificateAnswer answer = certificates_.front();
    certificates_.pop_front();
    return answer;
}

} // namespace testsupport
