/* Asks a Torvik4 (or the simulated one) for its protocol level through the C interface of the
 * installed TorvikAPI. */
#include <stdio.h>

#include <devicelink/torvik_api.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: device_consumer PORT\n");
        return 2;
    }
    SetConsoleTorvik(false);
    void* torvik = NewTorvik();
    if (torvik == NULL) {
        return 1;
    }
    int32_t result = ConnectTorvik(torvik, argv[1], 2000, 2000);
    if (result != 0) {
        fprintf(stderr, "device_consumer: cannot connect to %s (result %d)\n", argv[1], (int)result);
        DeleteTorvik(torvik);
        return 1;
    }
    result = GetVersionTorvik(torvik);
    DisconnectTorvik(torvik);
    DeleteTorvik(torvik);
    if (result < 0) {
        fprintf(stderr, "device_consumer: no answer (result %d)\n", (int)result);
        return 1;
    }
    printf("protocol level %d\n", (int)result);
    return 0;
}
