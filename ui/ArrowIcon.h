// The pictures of the two transfer buttons: a red arrow, with a grey one for the disabled
// state, drawn at run time.
#pragma once

#include <QIcon>

QIcon ArrowIcon(Qt::ArrowType direction);
