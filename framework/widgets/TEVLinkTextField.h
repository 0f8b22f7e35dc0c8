#pragma once
// TEVLinkTextField: a text field that shows its text as a clickable, underlined link while it has a URL,
// and as plain, non-selectable text without one. A click opens the URL through the workspace. Owned by its
// parent widget; main thread.

#include <QLabel>
#include <QUrl>

class TEVLinkTextField : public QLabel {
    Q_OBJECT
public:
    explicit TEVLinkTextField(QWidget* parent = nullptr);

    QString stringValue() const { return stringValue_; }
    void setStringValue(const QString& string);
    QUrl linkedURL() const { return linkedURL_; }
    // An empty URL makes the text plain again.
    void setLinkedURL(const QUrl& url);

private:
    void updateFieldShowingString(const QString& string);

    QString stringValue_;
    QUrl linkedURL_;
};
