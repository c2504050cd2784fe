/* The layouts header compiles as C: its size and offset checks run in this translation unit. */
#include "qarn_layouts.h"

int LayoutsCheckedInC(void) {
    return (int)sizeof(QarnSearchList) + (qarn_result_text(QARN_RESULT_DATA_READY)[0] == 'd');
}
