#pragma once
// TEVFilenameTextField: a text field that also takes a file dropped on it: its text becomes the file's
// path and it sends its action once. Used for the file or application an alert opens. Main thread.

#include <QLineEdit>

class QMimeData;

class TEVFilenameTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit TEVFilenameTextField(QWidget* parent = nullptr);

    // The local file paths `data` offers, in order; empty when it offers none.
    static QStringList fileNamesOnPasteboard(const QMimeData* data);

signals:
    // Sent after a drop changed the text, as the field's action.
    void actionTriggered();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
