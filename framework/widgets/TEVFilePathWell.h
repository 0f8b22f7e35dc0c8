#pragma once
// TEVFilePathWell: shows a file's icon and lets the user drag the file away. Owned by its parent widget;
// main thread.

#include <QLabel>
#include <QString>

class TEVFilePathWell : public QLabel {
    Q_OBJECT
public:
    explicit TEVFilePathWell(QWidget* parent = nullptr);

    QString filePath() const { return filePath_; }
    // Shows the workspace's icon for the path.
    void setFilePath(const QString& path);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString filePath_;
};
