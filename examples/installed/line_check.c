/* A program built against an installed qarn: it searches a line and reads the status of every
 * terminal that answered. Usage: line_check PORT (a device path such as /dev/ttyUSB0, or COMn).
 * Exit status 0 when at least one terminal answered and every status was read. */
#include <qarn.h>
#include <qarn_layouts.h>
#include <stdio.h>
#include <string.h>

static void CountFrames(int message, int wParam, int lParam, void* user) {
    (void)wParam;
    (void)lParam;
    if (message == WM_HDLC_FRAME) ++*(int*)user;
}

/* Runs one command; copies at most capacity bytes of its data. Returns its result, -1 if refused.
 */
static int Run(int device, int terminal, int code, void* data, int capacity, int* size) {
    int command = StartQARNCommand(device, terminal, code, NULL, 0);
    if (!command) return -1;
    int result = GetCmdResult(command);
    *size = GetSizeOfData(command);
    if (*size > capacity || !GetData(command, data, *size)) *size = 0;
    EndQARNCommand(command);
    return result;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    char settings[256];
    snprintf(settings, sizeof settings, "%s:baud=9600,parity=E,data=8,stop=1", argv[1]);

    int frames = 0;
    int window = CreateNotifyWindow(CountFrames, &frames);
    int device = OpenDevice(0x0001, window);
    SetWaitTime(device, 300);
    if (!ConnectPort(device, settings)) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }

    int list[257] = {0};
    int size = 0;
    int result = Run(device, 0, QARN_CMD_SEARCH_DM_ONLINE_B, list, sizeof list, &size);
    int found = size == (int)sizeof list ? list[0] : 0;
    printf("search: result %d, %d terminal(s)\n", result, found);

    int failures = found > 0 ? 0 : 1;
    for (int i = 0; i < found && i < 256; ++i) {
        QarnStatus status;
        result = Run(device, list[1 + i], QARN_CMD_RECV_DM_STATUS, &status, sizeof status, &size);
        printf("status of 0x%04X: result %d, %d bytes\n", list[1 + i], result, size);
        if (result != QARN_RESULT_DATA_READY || size != (int)sizeof(QarnStatus)) ++failures;
    }
    printf("%d frame notification(s)\n", frames);

    DisConnectPort(device);
    CloseDevice(device);
    DestroyNotifyWindow(window);
    return failures == 0 && frames > found ? 0 : 1;
}
