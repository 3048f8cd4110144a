// The pattern manager's list widget.
#include "cztverovepatternlist.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

namespace {

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (data && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                files << url.toLocalFile();
            }
        }
    }
    return files;
}

const QString kItems = QStringLiteral("application/x-qabstractitemmodeldatalist");

}  // namespace

CZtVerovePatternList::CZtVerovePatternList(QWidget* parent) : QListWidget(parent) {
    setAcceptDrops(true);
    setDragEnabled(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragDropMode(QAbstractItemView::InternalMove);
    setDropIndicatorShown(true);
    setDragDropOverwriteMode(false);
    setDefaultDropAction(Qt::MoveAction);
    setEditTriggers(QAbstractItemView::DoubleClicked);
}

QIcon CZtVerovePatternList::MappingIcon(int mapping) {
    return QIcon(mapping == 1
                     ? QStringLiteral(":/w32_baseresources/res/device/pattern_camera.svg")
                     : QStringLiteral(":/w32_baseresources/res/device/pattern_mirrors.svg"));
}

// Internal-move mode turns away drags from outside; files are taken all the same. Items are
// taken from this list only (a drag without a source widget in this process is a platform drag,
// and a synthesised one in tests).
bool CZtVerovePatternList::Takes(const QDropEvent* event) const {
    const QMimeData* data = event->mimeData();
    return !LocalFiles(data).isEmpty() ||
           (data && data->hasFormat(kItems) && (event->source() == this || !event->source()));
}

void CZtVerovePatternList::dragEnterEvent(QDragEnterEvent* event) {
    if (Takes(event)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void CZtVerovePatternList::dragMoveEvent(QDragMoveEvent* event) {
    QListWidget::dragMoveEvent(event);  // the drop indicator
    if (Takes(event)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void CZtVerovePatternList::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData());
    if (!files.isEmpty()) {
        event->acceptProposedAction();
        emit sigFilesDropped(files);
        return;
    }
    if (!Takes(event)) {
        event->ignore();
        return;
    }
    // The move is done here rather than by the view, so that the items' order is settled before
    // the manager reads it and the drag's source never removes the moved rows a second time.
    MoveSelectedTo(event->pos());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit sigItemsMoved();
}

void CZtVerovePatternList::MoveSelectedTo(const QPoint& position) {
    const QModelIndex target = indexAt(position);
    int row = target.isValid() ? target.row() : count();
    if (target.isValid() && position.y() >= visualRect(target).center().y()) {
        ++row;
    }
    std::vector<int> rows;
    for (const QListWidgetItem* item : selectedItems()) {
        rows.push_back(this->row(item));
    }
    std::sort(rows.begin(), rows.end());
    std::vector<QListWidgetItem*> moved;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        moved.insert(moved.begin(), takeItem(*it));
        if (*it < row) {
            --row;
        }
    }
    for (QListWidgetItem* item : moved) {
        insertItem(row++, item);
    }
    if (!moved.empty()) {
        setCurrentItem(moved.front(), QItemSelectionModel::NoUpdate);
    }
    for (QListWidgetItem* item : moved) {
        item->setSelected(true);
    }
}
