// Qt outside app/.
#include <QWidget>
