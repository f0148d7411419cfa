#include "settings/catalogue.h"

DisplayModeCatalogue g_catalogue;

#define LABEL_BUFFER_SIZE 32

static void PrepareMode(DEVMODEA *mode)
{
    ZeroMemory(mode, sizeof(*mode));
    mode->dmSize = sizeof(*mode);
}

static BOOL IsKnownResolution(const DEVMODEA *mode)
{
    int i;

    for (i = 0; i < g_catalogue.count; i++)
    {
        if (g_catalogue.modes[i].dmPelsWidth == mode->dmPelsWidth &&
            g_catalogue.modes[i].dmPelsHeight == mode->dmPelsHeight)
            return TRUE;
    }
    return FALSE;
}

static void AddResolution(const DEVMODEA *mode)
{
    char label[LABEL_BUFFER_SIZE];
    int length;
    char *copy;

    g_catalogue.modes[g_catalogue.count] = *mode;
    length = wsprintfA(label, "%d x %d", (int)mode->dmPelsWidth, (int)mode->dmPelsHeight);
    copy = (char *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length + 1);
    g_catalogue.labels[g_catalogue.count] = copy;
    /* Without a label the slot stays free for the next resolution, or a later mode of this one. */
    if (!copy)
        return;
    CopyMemory(copy, label, length);
    g_catalogue.count++;
}

void BuildDisplayModeCatalogueWith(EnumDisplaySettingsFn enumerate)
{
    DEVMODEA mode;
    DWORD total, i;
    HANDLE heap = GetProcessHeap();

    g_catalogue.count = 0;
    PrepareMode(&mode);
    if (!enumerate(NULL, 0, &mode))
        return;

    total = 1;
    while (PrepareMode(&mode), enumerate(NULL, total, &mode))
        total++;
    if (total > MAXDWORD / sizeof(DEVMODEA))
        return;

    g_catalogue.labels = (char **)HeapAlloc(heap, HEAP_ZERO_MEMORY, total * sizeof(char *));
    g_catalogue.modes = (DEVMODEA *)HeapAlloc(heap, HEAP_ZERO_MEMORY, total * sizeof(DEVMODEA));
    if (!g_catalogue.labels || !g_catalogue.modes)
    {
        /* Half a catalogue is no use: offer no resolutions at all. */
        if (g_catalogue.labels)
            HeapFree(heap, 0, g_catalogue.labels);
        if (g_catalogue.modes)
            HeapFree(heap, 0, g_catalogue.modes);
        g_catalogue.labels = NULL;
        g_catalogue.modes = NULL;
        return;
    }

    for (i = 0; i < total; i++)
    {
        PrepareMode(&mode);
        if (!enumerate(NULL, i, &mode))
            continue;
        if (!IsKnownResolution(&mode))
            AddResolution(&mode);
    }
}

void BuildDisplayModeCatalogue(void)
{
    BuildDisplayModeCatalogueWith(EnumDisplaySettingsA);
}

int FindResolutionLabel(const char *label)
{
    int i;

    for (i = 0; i < g_catalogue.count; i++)
    {
        if (lstrcmpA(g_catalogue.labels[i], label) == 0)
            return i;
    }
    return -1;
}
