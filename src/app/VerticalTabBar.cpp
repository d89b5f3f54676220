#include "app/VerticalTabBar.h"

#include <QPainter>
#include <QStyleOptionTab>

QSize VerticalTabBar::tabSizeHint(int index) const
{
    return QTabBar::tabSizeHint(index).transposed();
}

void VerticalTabBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyle *const barStyle = style();
    QStyleOptionTab option;
    for (int i = 0; i < count(); ++i) {
        initStyleOption(&option, i);
        barStyle->drawControl(QStyle::CE_TabBarTabShape, &option, &painter, this);

        painter.save();
        // The style lays a west caption out turned counter-clockwise inside the option's rectangle;
        // an exchanged rectangle turned clockwise about the tab's centre covers the tab again, and
        // the two turns cancel.
        QRect labelRect(QPoint(0, 0), option.rect.size().transposed());
        labelRect.moveCenter(option.rect.center());
        option.rect = labelRect;
        const QPoint centre = tabRect(i).center();
        painter.translate(centre);
        painter.rotate(90.0);
        painter.translate(-QPointF(centre));
        barStyle->drawControl(QStyle::CE_TabBarTabLabel, &option, &painter, this);
        painter.restore();
    }
}
