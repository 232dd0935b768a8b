#include "app/ProgramValues.h"

ProgramValues& Program() {
    static ProgramValues values;
    return values;
}

AppServices& Services() {
    static AppServices services;
    return services;
}
