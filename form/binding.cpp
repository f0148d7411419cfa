#include "form/binding.h"
#include <commctrl.h>

#include "resources/resource.h"
#include "settings/catalogue.h"

struct ControlField
{
    int id;
    int SetupSettings::*field;
};

/* In the order the sliders stand on the form. */
static const ControlField kSliders[] =
{
    { IDC_MASTER_VOLUME,  &SetupSettings::masterVolume },
    { IDC_EFFECT_VOLUME,  &SetupSettings::effectVolume },
    { IDC_AMBIENT_VOLUME, &SetupSettings::ambientVolume },
    { IDC_MUSIC_VOLUME,   &SetupSettings::musicVolume },
};

/* Each group's buttons have consecutive identifiers; the field holds the offset of the checked one. */
static const ControlField kRadioGroups[] =
{
    { IDC_RENDERER_OPENGL, &SetupSettings::renderer },
    { IDC_MODE_WINDOWED,   &SetupSettings::displayMode },
};
#define RADIO_GROUP_SIZE 3

static const ControlField kCheckBoxes[] =
{
    { IDC_SOFTWARE_CURSOR, &SetupSettings::softwareCursor },
    { IDC_VSYNC,           &SetupSettings::vsync },
};

#define COUNT_OF(table) (sizeof(table) / sizeof((table)[0]))

void ApplySettingsToForm(HWND window, SetupSettings *settings)
{
    HWND list;
    unsigned i;

    if (!settings)
        return;
    for (i = 0; i < COUNT_OF(kSliders); i++)
    {
        HWND slider = GetDlgItem(window, kSliders[i].id);
        if (slider)
            SendMessageA(slider, TBM_SETPOS, TRUE, settings->*kSliders[i].field);
    }
    for (i = 0; i < COUNT_OF(kRadioGroups); i++)
    {
        int first = kRadioGroups[i].id;
        CheckRadioButton(window, first, first + RADIO_GROUP_SIZE - 1, first + settings->*kRadioGroups[i].field);
    }
    list = GetDlgItem(window, IDC_RESOLUTION);
    if (list)
    {
        if (settings->resolutionIndex < 0 || settings->resolutionIndex >= g_catalogue.count)
            settings->resolutionIndex = 0;
        SendMessageA(list, CB_SETCURSEL, settings->resolutionIndex, 0);
    }
    for (i = 0; i < COUNT_OF(kCheckBoxes); i++)
        CheckDlgButton(window, kCheckBoxes[i].id, settings->*kCheckBoxes[i].field ? BST_CHECKED : BST_UNCHECKED);
}

/* The offset of the first checked button; the last button also stands for none checked. */
static int ReadRadioGroup(HWND window, int first)
{
    int offset;

    for (offset = 0; offset < RADIO_GROUP_SIZE - 1; offset++)
    {
        if (IsDlgButtonChecked(window, first + offset) == BST_CHECKED)
            return offset;
    }
    return RADIO_GROUP_SIZE - 1;
}

void ReadSettingsFromForm(HWND window, SetupSettings *settings)
{
    HWND list;
    unsigned i;

    if (!settings)
        return;
    for (i = 0; i < COUNT_OF(kSliders); i++)
    {
        HWND slider = GetDlgItem(window, kSliders[i].id);
        if (slider)
            /* Another program can widen a slider's range; the record holds percentages only. */
            settings->*kSliders[i].field =
                ClampToRange((int)SendMessageA(slider, TBM_GETPOS, 0, 0), VOLUME_MIN, VOLUME_MAX);
    }
    for (i = 0; i < COUNT_OF(kRadioGroups); i++)
        settings->*kRadioGroups[i].field = ReadRadioGroup(window, kRadioGroups[i].id);
    list = GetDlgItem(window, IDC_RESOLUTION);
    if (list)
    {
        LRESULT selection = SendMessageA(list, CB_GETCURSEL, 0, 0);
        /* No selection, or an item another program added, reads as the first entry, as Apply repairs it. */
        settings->resolutionIndex = selection < 0 || selection >= g_catalogue.count ? 0 : (int)selection;
    }
    for (i = 0; i < COUNT_OF(kCheckBoxes); i++)
        settings->*kCheckBoxes[i].field = IsDlgButtonChecked(window, kCheckBoxes[i].id) == BST_CHECKED;
}
