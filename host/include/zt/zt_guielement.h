// The host's GUI elements: what its layout shows (control elements of devices and the tab
// containers that hold them).
#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTabWidget>
#include <vector>

#include "zt/zt_export.h"
#include "zt/zt_string.h"

class QWidget;
class CZtTabContainer;

// GUI thread only.
//
// An element of the host's layout.
class ZTHOST_API CZtGUIElement {
public:
    virtual ~CZtGUIElement();

    virtual CZtStringW GetElementName() const = 0;
    // What the host shows as the element's title.
    virtual CZtStringW GetCaption() const = 0;
    // The element this one was created in; null for a top element.
    virtual CZtGUIElement* GetParentElement() const = 0;
    // This element or the nearest element it lies in whose object is of class className (such as
    // "CZtTabContainer"); null when there is none.
    QObject* FindContainer(const char* className);
    // The QObject this element is.
    virtual QObject* ElementObject() = 0;
};

// GUI thread only.
//
// The control element of a device (its pad): the host creates it, calls setupUi and CreateUI, shows
// its native window in a tab container and calls DestroyUI when it goes. Derived elements put
// their widgets into the native window.
class ZTHOST_API CZtQtGUIControlElement : public QObject, public CZtGUIElement {
    Q_OBJECT

public:
    explicit CZtQtGUIControlElement(QObject* parent = nullptr);
    ~CZtQtGUIControlElement() override;

    // Builds the native window: hidden, without parent, until the host places it.
    virtual void setupUi();
    // Registers the element under parentElement with the name; a tab container among the parents
    // takes the window as a tab. Returns the element's handle, its native window; null before
    // setupUi.
    virtual QWidget* CreateUI(const wchar_t* name, CZtGUIElement* parentElement);
    // Takes the element out of its container and deletes the native window.
    virtual void DestroyUI();
    // Enables or disables the whole element.
    virtual void Enable(bool enable);
    // A command of the host's element protocol; the base knows none: -2.
    virtual int CustomCommand(int command, void* param, const wchar_t* text);
    // The host's GUI zoom changed: the base scales the native window's font by the zoom.
    virtual void OnGuiZoomChanged();

    // The sizes the host's layout gives the element.
    void SetSizeBounds(const QSize& minimum, const QSize& maximum);
    QSize GetMinimumSize() const { return m_minimumSize; }
    QSize GetMaximumSize() const { return m_maximumSize; }
    // Asks the host to lay the element out again, after its size bounds changed.
    void RequestLayout();

    QWidget* GetNativeWindow() const { return m_nativeWindow; }
    bool IsUICreated() const { return m_created; }
    bool IsEnabled() const { return m_enabled; }

    CZtStringW GetElementName() const override { return m_name; }
    CZtStringW GetCaption() const override { return m_name; }
    CZtGUIElement* GetParentElement() const override { return m_parentObject ? m_parent : nullptr; }
    QObject* ElementObject() override { return this; }

private:
    // The tab container the element lies in, if any.
    CZtTabContainer* Container() const;

    QPointer<QWidget> m_nativeWindow;
    CZtStringW m_name;
    // Borrowed; valid while m_parentObject, the same element's object, lives.
    CZtGUIElement* m_parent = nullptr;
    QPointer<QObject> m_parentObject;
    bool m_created = false;
    bool m_enabled = true;
    int m_basePointSize = 0;  // the window's font size at zoom 1.0
    QSize m_minimumSize{0, 0};
    QSize m_maximumSize{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
};

// GUI thread only.
//
// A tab container of the host's layout: one tab per control element, titled with the element's
// caption. It remembers where each element stood, so that an element taken out comes back there.
class ZTHOST_API CZtTabContainer : public QTabWidget, public CZtGUIElement {
    Q_OBJECT

public:
    explicit CZtTabContainer(const wchar_t* name, QWidget* parent = nullptr);
    ~CZtTabContainer() override;

    // Shows the element's window as a tab at index (beyond the end or -1: last). 0; -4 for an
    // element without window; -10 when it is shown already.
    int AddElement(CZtQtGUIControlElement* element, int index = -1);
    // Takes the element's tab out, remembering its index. 0; -5 when it is not shown.
    int RemoveElement(CZtQtGUIControlElement* element);
    bool IsShown(const CZtQtGUIControlElement* element) const;
    // The index the element had when it was last shown; -1 for an element never shown here.
    int GetSavedIndex(const CZtQtGUIControlElement* element) const;
    // The tab's title; empty for an element not shown.
    QString GetTabTitle(const CZtQtGUIControlElement* element) const;

    // Every tab's title from its element's caption.
    void RefreshTabTitles();
    // Makes the layout manager's active element the current tab when this container shows it.
    void UpdateActiveTab();
    // The element of the current tab; null when there is none.
    CZtQtGUIControlElement* GetActiveElement() const;
    // Gives the element's tab page the element's size bounds.
    void ApplySizeBounds(CZtQtGUIControlElement* element);

    CZtStringW GetElementName() const override { return m_name; }
    CZtStringW GetCaption() const override { return m_name; }
    CZtGUIElement* GetParentElement() const override { return nullptr; }
    QObject* ElementObject() override { return this; }

private:
    struct SZtPlace {
        QPointer<CZtQtGUIControlElement> element;
        int index = -1;
    };
    int IndexOf(const CZtQtGUIControlElement* element) const;
    void Remember(CZtQtGUIControlElement* element, int index);

    CZtStringW m_name;
    std::vector<SZtPlace> m_saved;
};
