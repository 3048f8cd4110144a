// The configuration dialog's list of stored calibrations.
#include "cztcalibrationtreewidget.h"

#include <QFont>
#include <QHeaderView>
#include <QSizePolicy>

#include "cztcalibrationtreeinnerwidget.h"
#include "cztcalibrationtreeitem.h"
#include "zt/zt_string.h"
#include "zt/zt_util.h"

namespace {

constexpr int kMinimumHeight = 70;
constexpr int kBold = 75;
constexpr int kNormal = 50;

}  // namespace

CZtCalibrationTreeWidget::CZtCalibrationTreeWidget(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setWordWrap(true);
    setMinimumHeight(kMinimumHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setColumnCount(1);
}

void CZtCalibrationTreeWidget::Fill(const std::wstring& currentKey,
                                    const std::vector<std::wstring>& storedKeys,
                                    IZtGrabberProvider* grabber) {
    clear();
    ParseConfigurationString(currentKey, &m_current);
    int counter = 1;
    for (const std::wstring& key : storedKeys) {
        auto* item = new CZtCalibrationTreeItem();
        if (!item->SetKey(key)) {
            delete item;
            continue;
        }
        item->Match(m_current);
        item->setText(0, QString::fromStdWString(ZT_FormatW(
                             ZT_GetTranslation(L"Calibration %i").GetString(), counter++)));
        addTopLevelItem(item);
        for (const SZtCalibrationTreeRow& row : item->Rows(grabber)) {
            auto* child = new QTreeWidgetItem(item);
            setItemWidget(
                child, 0,
                new CZtCalibrationTreeInnerWidget(QString::fromStdWString(row.text), row.matching));
        }
        QFont font = item->font(0);
        font.setWeight(key == currentKey ? kBold : kNormal);
        item->setFont(0, font);
    }
}
