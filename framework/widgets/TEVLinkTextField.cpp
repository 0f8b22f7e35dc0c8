#include "framework/widgets/TEVLinkTextField.h"

#include "platform/desktop/Workspace.h"

TEVLinkTextField::TEVLinkTextField(QWidget* parent)
    : QLabel(parent)
{
    setOpenExternalLinks(false);
    connect(this, &QLabel::linkActivated, this, [](const QString& link) { platform::Workspace::shared()->openURL(QUrl(link)); });
    updateFieldShowingString({});
}

void TEVLinkTextField::setStringValue(const QString& string)
{
    stringValue_ = string;
    updateFieldShowingString(string);
}

void TEVLinkTextField::setLinkedURL(const QUrl& url)
{
    linkedURL_ = url;
    updateFieldShowingString(stringValue_);
}

void TEVLinkTextField::updateFieldShowingString(const QString& string)
{
    if (linkedURL_.isEmpty()) {
        setTextFormat(Qt::PlainText);
        setTextInteractionFlags(Qt::NoTextInteraction);
        setText(string);
        return;
    }
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::TextBrowserInteraction);
    setText(QStringLiteral("<a href=\"%1\" style=\"text-decoration: underline\">%2</a>")
                .arg(linkedURL_.toString(QUrl::FullyEncoded).toHtmlEscaped(), string.toHtmlEscaped()));
}
