// Opens a dialog from the live picture's menu, as the user does, and runs a
// test's checks on it while it is open.
#pragma once

#include "app/vistrel_app.h"
#include "ui/picture_menu.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

namespace vistrel::test {

// The dialog of that type now modal, if any.
template <typename Dialog> Dialog* Open_Dialog() {
    return qobject_cast<Dialog*>(QApplication::activeModalWidget());
}

// The texts of the live picture's menu, in order.
inline QStringList Picture_Menu_Items(Vistrel_App& w) {
    QMenu menu;
    w.Live_Picture_Menu().Fill_Picture_Menu(menu);
    QStringList items;
    for (QAction* action : menu.actions())
        items << action->text();
    return items;
}

// Runs `with_dialog` on the dialog once it is open, then chooses `item` in
// the live picture's menu and returns when the dialog was answered.
template <typename Dialog>
void Through_Menu(Vistrel_App& w, const QString& item_text,
                  std::function<void(Dialog&)> with_dialog) {
    bool ran = false;
    QTimer waiter;
    waiter.setInterval(10);
    QObject::connect(&waiter, &QTimer::timeout, [&] {
        if (Dialog* dialog = Open_Dialog<Dialog>(); dialog && dialog->isVisible() && !ran) {
            ran = true;
            waiter.stop();
            with_dialog(*dialog);
            // A check failed in there and left it open: end it, so that the
            // test fails rather than waits for ever.
            if (QTest::currentTestFailed())
                dialog->reject();
        }
    });
    waiter.start();
    QMenu menu;
    w.Live_Picture_Menu().Fill_Picture_Menu(menu);
    QAction* item = nullptr;
    for (QAction* action : menu.actions())
        if (action->text() == item_text)
            item = action;
    QVERIFY(item != nullptr);
    item->trigger();
    QVERIFY(ran);
}

} // namespace vistrel::test
