// The pattern manager's list: one editable item per pattern file, reordered by dragging and
// receiving files dragged in from outside.
#pragma once

#include <QListWidget>
#include <QStringList>

// GUI thread only.
class CZtVerovePatternList : public QListWidget {
    Q_OBJECT

public:
    explicit CZtVerovePatternList(QWidget* parent = nullptr);

    // The icon of an entry in camera (mapping 1) or DMD coordinates.
    static QIcon MappingIcon(int mapping);

signals:
    // Items were moved by dragging; each item keeps its entry's index in Qt::UserRole.
    void sigItemsMoved();
    // Local files were dropped on the list, in the order of the drop.
    void sigFilesDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool Takes(const QDropEvent* event) const;
    // Moves the selected items before the row the drop points at.
    void MoveSelectedTo(const QPoint& position);
};
