// QvIWidget: only the out-of-line destructor, which anchors the interface.
#include "qvwidget.h"

QvIWidget::~QvIWidget() = default;
