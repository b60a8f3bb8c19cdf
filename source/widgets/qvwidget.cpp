// QvIWidget: only the out-of-line destructor, which anchors the interface.
#include "widgets/qvwidget.h"

QvIWidget::~QvIWidget() = default;
