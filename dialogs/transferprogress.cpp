#include "dialogs/transferprogress.h"

#include <utility>

TTransferProgress::TScope::TScope(TTransferProgress* owner, TSendForm* form) : owner_(owner), form_(form) {}

TTransferProgress::TScope::TScope(TScope&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), form_(std::move(other.form_))
{
    other.form_.clear();
}

TTransferProgress::TScope& TTransferProgress::TScope::operator=(TScope&& other) noexcept
{
    if (this != &other) {
        Close();
        owner_ = std::exchange(other.owner_, nullptr);
        form_ = std::move(other.form_);
        other.form_.clear();
    }
    return *this;
}

TTransferProgress::TScope::~TScope() { Close(); }

void TTransferProgress::TScope::Close()
{
    // The owner destroys its dialog before it goes, so a live form means a
    // live owner.
    if (owner_ && form_)
        owner_->CloseForm(form_.data());
    owner_ = nullptr;
    form_.clear();
}

TSendForm* TTransferProgress::TScope::Form() const { return form_.data(); }

TTransferProgress::TTransferProgress(bool& cancelTransfer, QWidget* parent)
    : cancelTransfer_(cancelTransfer), parent_(parent)
{
}

TTransferProgress::~TTransferProgress() { Close(); }

TTransferProgress::TScope TTransferProgress::Open(TProgressDirection direction, const QString& name,
                                                  const QString& remotePath, const QString& localPath, qint64 total,
                                                  qint64 start)
{
    Close();
    auto* form = new TSendForm(cancelTransfer_, parent_.data());
    form->Prepare(direction, name, remotePath, localPath, total, start);
    form_ = form;
    form->show();
    return TScope(this, form);
}

void TTransferProgress::Update(qint64 byteCount)
{
    if (TSendForm* form = form_.data())
        form->SetProgress(byteCount);
}

void TTransferProgress::Close()
{
    if (TSendForm* form = form_.data())
        CloseForm(form);
}

void TTransferProgress::CloseForm(TSendForm* form)
{
    if (form_ == form)
        form_.clear();
    // Destroyed rather than closed: a close request is the dialog's Cancel.
    delete form;
}
