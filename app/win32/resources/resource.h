#pragma once

#define IDI_OSTRAPEL 1
#define IDI_OPEN_FOLDER 2
#define IDI_LOGO 3
