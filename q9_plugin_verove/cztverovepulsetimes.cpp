// The pad's pulse times.
#include "cztverovepulsetimes.h"

#include <QComboBox>
#include <QSignalBlocker>

#include "zt/zt_gui.h"
#include "zt/zt_util.h"

namespace {

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

}  // namespace

QStringList CZtVerovePulseTimes::DefaultTexts() {
    QStringList texts;
    for (const wchar_t* time : {L"1 ms", L"10 ms", L"50 ms", L"100 ms", L"200 ms", L"300 ms",
                                L"400 ms", L"500 ms", L"1 s", L"Toggle"}) {
        texts << Tr(time);
    }
    return texts;
}

double CZtVerovePulseTimes::Parse(const QString& text, bool* ok) {
    return ZT_TextToExposure(text, -1.0, 1.0, kToggleMs, ok);
}

QString CZtVerovePulseTimes::Text(double ms) {
    return ms >= kToggleMs ? Tr(L"Toggle") : ZT_ExposureToText(ms, -1.0);
}

double CZtVerovePulseTimes::DurationOf(const QString& text, bool toggleAtEnd, bool* ok) {
    const double ms = Parse(text, ok);
    if (*ok) {
        return ms;
    }
    const QString trimmed = text.trimmed();
    const QString toggle = Tr(L"Toggle");
    *ok = toggleAtEnd ? trimmed.endsWith(toggle, Qt::CaseInsensitive)
                      : trimmed.compare(toggle, Qt::CaseInsensitive) == 0;
    return *ok ? kToggleMs : -1.0;
}

void CZtVerovePulseTimes::Fill(QComboBox* combo, QStringList* texts, double durationMs) {
    const QString current = Text(durationMs);
    for (int i = 0; i < combo->count(); ++i) {
        const QString item = combo->itemText(i);
        bool ok = false;
        Parse(item, &ok);
        if (ok && !texts->contains(item)) {
            *texts << item;
        }
    }
    const QSignalBlocker blocker(combo);
    combo->clear();
    combo->addItems(*texts);
    int index = texts->lastIndexOf(current);
    if (index < 0) {
        bool ok = false;
        Parse(current, &ok);
        if (ok) {
            *texts << current;
            combo->addItem(current);
            index = combo->count() - 1;
        } else {
            index = 0;
        }
    }
    combo->setCurrentIndex(index);
}
