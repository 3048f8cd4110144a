// The pattern manager dialog.
#include "cztverovepatternorganizer.h"

#include <QAbstractItemDelegate>
#include <QCursor>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "cztverovepatternlist.h"
#include "verove_log.h"
#include "zt/zt_gui.h"

namespace {

const wchar_t* const kAllFilter = L"All (*.bmp *.tiff *.tif *.stk *.rvx *.png)";
const wchar_t* const kFilters =
    L"All (*.bmp *.tiff *.tif *.stk *.rvx *.png);;Windows Bitmaps (*.bmp);;Tagged Image Format "
    L"(*.tif *.tiff *.stk);;RVX Image File Format (*.rvx);;Portable Network Graphics (*.png)";
const char* const kStyleSheet =
    ":/q9_plugin_Verove/resources/Stylesheets/VerovePatternOrganizer.qss";

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

QString Q(const CZtStringW& text) {
    return QString::fromStdWString(text.Str());
}

// Duplicates are told by the absolute path with ".." resolved; links are left alone, as the
// user named them.
QString AbsolutePath(const QString& path) {
    return QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

QPushButton* Button(const char* objectName, const wchar_t* text, QWidget* parent) {
    auto* button = new QPushButton(Tr(text), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    return button;
}

}  // namespace

CZtVerovePatternOrganizer::CZtVerovePatternOrganizer(QWidget* parent,
                                                     std::vector<SZtPatternFile>* edited)
    : CZtQ9DialogForQt(parent), m_edited(edited) {
    BuildUi();
}

void CZtVerovePatternOrganizer::BuildUi() {
    setWindowTitle(Tr(L"Pattern Manager"));
    m_list = new CZtVerovePatternList(this);
    QPushButton* add = Button("m_pBtnAdd", L"Add...", this);
    m_up = Button("m_pBtnUp", L"Up", this);
    m_down = Button("m_pBtnDown", L"Down", this);
    QPushButton* trash = Button("m_pBtnTrash", L"Remove", this);
    QPushButton* trashAll = Button("m_pBtnTrashAll", L"Remove all", this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {add, m_up.data(), m_down.data(), trash, trashAll}) {
        buttons->addWidget(button);
    }
    buttons->addStretch();

    m_mappingGroup = new QGroupBox(Tr(L"Mapping"), this);
    m_camera = new QRadioButton(Tr(L"Camera"), m_mappingGroup);
    m_dmd = new QRadioButton(Tr(L"DMD"), m_mappingGroup);
    auto* mapping = new QHBoxLayout(m_mappingGroup);
    mapping->addWidget(m_camera);
    mapping->addWidget(m_dmd);

    m_metadataGroup = new QGroupBox(Tr(L"Metadata"), this);
    auto* metadata = new QGridLayout(m_metadataGroup);
    int row = 0;
    for (auto [label, field] :
         {std::pair{L"File Path:", &m_path}, std::pair{L"Dimensions:", &m_dimensions},
          std::pair{L"Bit Depth:", &m_bitDepth}}) {
        *field = new QLineEdit(m_metadataGroup);
        (*field)->setReadOnly(true);
        metadata->addWidget(new QLabel(Tr(label), m_metadataGroup), row, 0);
        metadata->addWidget(*field, row++, 1);
    }

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    layout->addWidget(m_mappingGroup);
    layout->addWidget(m_metadataGroup);
    layout->addWidget(box);

    connect(add, &QPushButton::released, this, &CZtVerovePatternOrganizer::OnButtonAddPattern);
    connect(m_up, &QPushButton::released, this, &CZtVerovePatternOrganizer::OnButtonUp);
    connect(m_down, &QPushButton::released, this, &CZtVerovePatternOrganizer::OnButtonDown);
    connect(trash, &QPushButton::released, this, &CZtVerovePatternOrganizer::OnButtonTrash);
    connect(trashAll, &QPushButton::released, this, &CZtVerovePatternOrganizer::OnButtonTrashAll);
    connect(m_camera, &QRadioButton::toggled, this,
            &CZtVerovePatternOrganizer::OnRadioMappingCamera);
    connect(m_dmd, &QRadioButton::toggled, this, &CZtVerovePatternOrganizer::OnRadioMappingDMD);
    connect(m_list, &QListWidget::itemSelectionChanged, this,
            &CZtVerovePatternOrganizer::OnSelectionChanged);
    connect(m_list->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
            &CZtVerovePatternOrganizer::OnListWidgetEditEnd);
    connect(m_list, &CZtVerovePatternList::sigItemsMoved, this,
            &CZtVerovePatternOrganizer::OnItemsMoved);
    connect(m_list, &CZtVerovePatternList::sigFilesDropped, this,
            [this](const QStringList& paths) { AddFiles(paths, true); });
    connect(box, &QDialogButtonBox::accepted, this, &CZtVerovePatternOrganizer::OnButtonOk);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ZT_LoadStyleSheet(this, QString::fromLatin1(kStyleSheet));
    OnSelectionChanged();
}

void CZtVerovePatternOrganizer::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        m_files = m_edited ? *m_edited : std::vector<SZtPatternFile>{};
        OnUpdatePatternList();
        adjustSize();
    }
    CZtQ9DialogForQt::showEvent(event);
}

void CZtVerovePatternOrganizer::AddFiles(const QStringList& paths, bool dropped) {
    const char* function = "CZtVerovePatternOrganizer::AddFiles";
    VEROVE_LOG(function, L"Start");
    for (const QString& path : paths) {
        if (dropped) {
            VEROVE_LOG(function, L"Dropped file: %hs", path.toLocal8Bit().constData());
        }
        const QFileInfo file(path);
        if (!file.exists() || !file.isFile() || !file.isReadable()) {
            continue;
        }
        const QString absolute = AbsolutePath(path);
        const CZtStringW key(absolute.toStdWString());
        const bool listed = std::any_of(m_files.begin(), m_files.end(), [&](const auto& entry) {
            return AbsolutePath(Q(entry.filePath)) == absolute;
        });
        if (listed) {
            CZtStringW text;
            text.Format(
                ZT_GetTranslation(L"Cannot add pattern \"%s\" - pattern already in the list")
                    .GetString(),
                key.GetString());
            ZT_MessageBox_(this, text.GetString(), ZT_GetTranslation(L"Error").GetString(), 16);
            continue;
        }
        SZtPatternFile entry(CZtStringW(file.completeBaseName().toStdWString()), key, 0);
        entry.ReadPictureInfo();
        m_files.push_back(std::move(entry));
    }
    if (!paths.isEmpty()) {
        OnUpdatePatternList();
    }
    VEROVE_LOG(function, L"End");
}

void CZtVerovePatternOrganizer::DeliverDrop(CZtVerovePatternOrganizer* organizer, HDROP drop) {
    if (!organizer || !organizer->m_list || !drop) {
        return;
    }
    CZtVerovePatternList* list = organizer->m_list;
    const QRect area(list->mapToGlobal(QPoint(0, 0)), list->size());
    if (!area.contains(QCursor::pos())) {
        return;
    }
    QStringList paths;
    const unsigned count = DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0);
    for (unsigned i = 0; i < count; ++i) {
        wchar_t path[260] = {};
        if (DragQueryFileW(drop, i, path, 260) > 0) {
            paths << QString::fromWCharArray(path);
        }
    }
    organizer->AddFiles(paths, true);
}

void CZtVerovePatternOrganizer::OnButtonAddPattern() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonAddPattern", L"Start");
    std::vector<CZtStringW> chosen;
    if (ZT_GetOpenFileNames(this, ZT_GetTranslation(L"Add Pattern").GetString(), kFilters,
                            kAllFilter, true, &chosen) == 0) {
        QStringList paths;
        for (const CZtStringW& path : chosen) {
            paths << Q(path);
        }
        AddFiles(paths, false);
    }
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonAddPattern", L"End");
}

void CZtVerovePatternOrganizer::Move(int from, int to) {
    std::swap(m_files[static_cast<std::size_t>(from)], m_files[static_cast<std::size_t>(to)]);
    OnUpdatePatternList();
    m_list->setCurrentRow(to);
}

void CZtVerovePatternOrganizer::OnButtonUp() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonUp", L"Start");
    const int row = m_list->currentRow();
    if (row > 0) {
        Move(row, row - 1);
    }
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonUp", L"End");
}

void CZtVerovePatternOrganizer::OnButtonDown() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonDown", L"Start");
    const int row = m_list->currentRow();
    if (row >= 0 && row + 1 < static_cast<int>(m_files.size())) {
        Move(row, row + 1);
    }
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonDown", L"End");
}

void CZtVerovePatternOrganizer::OnButtonTrash() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonTrash", L"Start");
    std::vector<int> rows = SelectedRows();
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        m_files.erase(m_files.begin() + *row);
    }
    OnUpdatePatternList();
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonTrash", L"End");
}

void CZtVerovePatternOrganizer::OnButtonTrashAll() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonTrashAll", L"Start");
    m_files.clear();
    OnUpdatePatternList();
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonTrashAll", L"End");
}

void CZtVerovePatternOrganizer::SetMapping(int mapping) {
    for (int row : SelectedRows()) {
        m_files[static_cast<std::size_t>(row)].mapping = mapping;
        m_list->item(row)->setIcon(CZtVerovePatternList::MappingIcon(mapping));
    }
}

void CZtVerovePatternOrganizer::OnRadioMappingCamera(bool checked) {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnRadioMappingCamera", L"Start");
    if (checked) {
        SetMapping(1);
    }
    VEROVE_LOG("CZtVerovePatternOrganizer::OnRadioMappingCamera", L"End");
}

void CZtVerovePatternOrganizer::OnRadioMappingDMD(bool checked) {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnRadioMappingDMD", L"Start");
    if (checked) {
        SetMapping(0);
    }
    VEROVE_LOG("CZtVerovePatternOrganizer::OnRadioMappingDMD", L"End");
}

std::vector<int> CZtVerovePatternOrganizer::SelectedRows() const {
    std::vector<int> rows;
    for (const QListWidgetItem* item : m_list->selectedItems()) {
        rows.push_back(m_list->row(item));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString CZtVerovePatternOrganizer::Common(
    const std::vector<int>& rows,
    const std::function<QString(const SZtPatternFile&)>& value) const {
    const QString first = value(m_files[static_cast<std::size_t>(rows.front())]);
    for (int row : rows) {
        if (value(m_files[static_cast<std::size_t>(row)]) != first) {
            return Tr(L"Value varies for selection");
        }
    }
    return first;
}

void CZtVerovePatternOrganizer::OnSelectionChanged() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnSelectionChanged", L"Start");
    const std::vector<int> rows = SelectedRows();
    const int current = m_list->currentRow();
    m_up->setEnabled(current > 0);
    m_down->setEnabled(current >= 0 && current < m_list->count() - 1);
    m_mappingGroup->setEnabled(!rows.empty());
    m_metadataGroup->setEnabled(!rows.empty());
    // Showing the selection's mapping must not set it.
    const QSignalBlocker blockCamera(m_camera), blockDmd(m_dmd);
    m_camera->setAutoExclusive(false);
    m_dmd->setAutoExclusive(false);
    if (rows.empty()) {
        m_path->clear();
        m_dimensions->clear();
        m_bitDepth->clear();
        m_camera->setChecked(false);
        m_dmd->setChecked(false);
    } else {
        m_path->setText(Common(rows, [](const auto& f) { return Q(f.filePath); }));
        m_dimensions->setText(Common(rows, [](const auto& f) {
            return QStringLiteral("%1x%2").arg(f.width).arg(f.height);
        }));
        m_bitDepth->setText(
            Common(rows, [](const auto& f) { return QString::number(f.bitDepth); }));
        const auto camera = [this](int row) {
            return m_files[static_cast<std::size_t>(row)].mapping == 1;
        };
        m_camera->setChecked(std::all_of(rows.begin(), rows.end(), camera));
        m_dmd->setChecked(std::none_of(rows.begin(), rows.end(), camera));
    }
    m_camera->setAutoExclusive(true);
    m_dmd->setAutoExclusive(true);
    VEROVE_LOG("CZtVerovePatternOrganizer::OnSelectionChanged", L"End");
}

void CZtVerovePatternOrganizer::OnUpdatePatternList() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnUpdatePatternList", L"Begin");
    {
        const QSignalBlocker blocker(m_list);
        m_list->clear();
        for (std::size_t i = 0; i < m_files.size(); ++i) {
            SZtPatternFile& entry = m_files[i];
            if (!entry.infoRead) {
                entry.ReadPictureInfo();
            }
            auto* item = new QListWidgetItem(CZtVerovePatternList::MappingIcon(entry.mapping),
                                             Q(entry.name), m_list);
            item->setFlags(item->flags() | Qt::ItemIsEditable);
            item->setData(Qt::UserRole, static_cast<int>(i));
        }
    }
    OnSelectionChanged();
    VEROVE_LOG("CZtVerovePatternOrganizer::OnUpdatePatternList", L"End");
}

void CZtVerovePatternOrganizer::OnListWidgetEditEnd() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnListWidgetEditEnd", L"Start");
    QListWidgetItem* item = m_list->currentItem();
    if (item) {
        SZtPatternFile& entry = m_files[static_cast<std::size_t>(m_list->row(item))];
        // A pattern without a name is not kept by the settings file: the old name stays.
        if (item->text().trimmed().isEmpty()) {
            item->setText(Q(entry.name));
        } else {
            entry.name = CZtStringW(item->text().toStdWString());
        }
    }
    VEROVE_LOG("CZtVerovePatternOrganizer::OnListWidgetEditEnd", L"End");
}

// Each item carries its entry's index from the last rebuild: the new item order gives the order
// of the working copy.
void CZtVerovePatternOrganizer::OnItemsMoved() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnItemsMoved", L"Start");
    std::vector<SZtPatternFile> reordered;
    for (int row = 0; row < m_list->count(); ++row) {
        reordered.push_back(m_files[m_list->item(row)->data(Qt::UserRole).toUInt()]);
    }
    m_files.swap(reordered);
    const int current = m_list->currentRow();
    OnUpdatePatternList();
    m_list->setCurrentRow(current);
    VEROVE_LOG("CZtVerovePatternOrganizer::OnItemsMoved", L"End");
}

void CZtVerovePatternOrganizer::OnButtonOk() {
    VEROVE_LOG("CZtVerovePatternOrganizer::OnButtonOk", L"Start");
    if (m_edited) {
        *m_edited = m_files;
    }
    accept();
}
