#pragma once

// Asking the user about a server certificate that failed verification, for
// every window that opens TLS connections: the answer of the prompts
// interface's certificate question, as the trust the connection gets.

#include "net/ssltruststore.h"
#include "ui/prompts.h"

class QWidget;

// Asks through Prompts().Certificate; a dialog closed without a choice is a
// refusal.
TSslTrustAnswer AskCertificateTrust(QWidget* parent, const TCertificatePrompt& prompt);
