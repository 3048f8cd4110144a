// The pattern manager: the user's list of pattern files, edited on a working copy that replaces
// the device's list only on OK.
#pragma once

#include <QPointer>
#include <QStringList>
#include <functional>
#include <vector>

#include "cztverovepatternlist.h"
#include "sztpatternfile.h"
#include "zt/zt_qtwidgets.h"
#include "zt/zt_util.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// GUI thread only.
class CZtVerovePatternOrganizer : public CZtQ9DialogForQt {
    Q_OBJECT

public:
    // edited: the device's list (borrowed), written only on OK.
    CZtVerovePatternOrganizer(QWidget* parent, std::vector<SZtPatternFile>* edited);

    // Adds the files in order: missing, unreadable or non-files are skipped silently, a path
    // already listed (compared as absolute paths) gets an error box. Dropped files are logged.
    void AddFiles(const QStringList& paths, bool dropped);
    // Hands the files of a drop on the application to the organizer when the mouse cursor lies
    // on its list.
    static void DeliverDrop(CZtVerovePatternOrganizer* organizer, HDROP drop);

    CZtVerovePatternList* List() const { return m_list; }
    const std::vector<SZtPatternFile>& WorkingCopy() const { return m_files; }

public slots:
    void OnButtonAddPattern();
    void OnButtonUp();
    void OnButtonDown();
    void OnButtonTrash();
    void OnButtonTrashAll();
    void OnRadioMappingCamera(bool checked);
    void OnRadioMappingDMD(bool checked);
    void OnSelectionChanged();
    void OnUpdatePatternList();
    void OnListWidgetEditEnd();
    void OnItemsMoved();
    void OnButtonOk();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildUi();
    void Move(int from, int to);
    void SetMapping(int mapping);
    std::vector<int> SelectedRows() const;
    // What the selection holds for one value: the value, or "Value varies for selection".
    QString Common(const std::vector<int>& rows,
                   const std::function<QString(const SZtPatternFile&)>& value) const;

    std::vector<SZtPatternFile>* m_edited;
    std::vector<SZtPatternFile> m_files;  // the working copy, in list order
    QPointer<CZtVerovePatternList> m_list;
    QPointer<QPushButton> m_up, m_down;
    QPointer<QGroupBox> m_mappingGroup, m_metadataGroup;
    QPointer<QRadioButton> m_camera, m_dmd;
    QPointer<QLineEdit> m_path, m_dimensions, m_bitDepth;
};
