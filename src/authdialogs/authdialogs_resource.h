// Identifiers of the dialog library's resources, shared by the resource script,
// the dialog procedures and the tests that drive the dialogs.
//
// Controls are numbered in bands: a band is the controls whose identifiers lie
// between a band's first and last identifier (a group box and what it holds,
// or one row). A hidden band gives its room to the bands below it.
#pragma once

// Dialogs.
#define IDD_CONFIG 100
#define IDD_CREDENTIALS 101
#define IDD_SMARTCARD 102

// Configuration dialog: sign-in band (EAP-TTLS).
#define IDC_SIGNIN_GROUP 1100
#define IDC_SOURCE_LABEL 1101
#define IDC_SOURCE 1102
#define IDC_SOURCE_ERR 1103
#define IDC_INNER_LABEL 1104
#define IDC_INNER 1105
#define IDC_INNER_ERR 1106
#define IDC_USER_LABEL 1107
#define IDC_USER 1108
#define IDC_USER_ERR 1109
#define IDC_DOMAIN_LABEL 1110
#define IDC_DOMAIN 1111
#define IDC_DOMAIN_ERR 1112
#define IDC_PASSWORD_LABEL 1113
#define IDC_PASSWORD 1114
#define IDC_PASSWORD_ERR 1115
#define IDC_SIGNIN_LAST 1199

// Configuration dialog: identity band (EAP-SIM, EAP-AKA).
#define IDC_IDENTITY_GROUP 1200
#define IDC_TEMPLATE_LABEL 1201
#define IDC_TEMPLATE 1202
#define IDC_TEMPLATE_ERR 1203
#define IDC_IDENTITY_LAST 1299

// Configuration dialog: identity privacy band (every method).
#define IDC_PRIVACY_GROUP 1300
#define IDC_ROAMING_LABEL 1301
#define IDC_ROAMING 1302
#define IDC_ROAMING_ERR 1303
#define IDC_PRIVACY_LAST 1399

// Configuration dialog: server validation band (EAP-TTLS).
#define IDC_SERVER_GROUP 1400
#define IDC_VALIDATE_NONE 1401
#define IDC_VALIDATE_ANY 1402
#define IDC_VALIDATE_THUMBPRINT 1403
#define IDC_THUMBPRINT 1404
#define IDC_THUMBPRINT_ERR 1405
#define IDC_SUBJECT_LABEL 1406
#define IDC_SUBJECT 1407
#define IDC_SUBJECT_ERR 1408
#define IDC_SUBJECT_SERVER 1409
#define IDC_SUBJECT_DOMAIN 1410
#define IDC_SERVER_LAST 1499

// Credential dialog (no bands: every control is always shown).
#define IDC_CRED_INTRO 2000
#define IDC_CRED_USER_LABEL 2001
#define IDC_CRED_USER 2002
#define IDC_CRED_USER_ERR 2003
#define IDC_CRED_DOMAIN_LABEL 2004
#define IDC_CRED_DOMAIN 2005
#define IDC_CRED_DOMAIN_ERR 2006
#define IDC_CRED_PASSWORD_LABEL 2007
#define IDC_CRED_PASSWORD 2008
#define IDC_CRED_PASSWORD_ERR 2009

// Smart-card dialog, one band per row.
#define IDC_RETRY_MESSAGE 3100
#define IDC_READERS_LABEL 3201
#define IDC_READERS 3202
#define IDC_READERS_ERR 3203
#define IDC_READERS_LAST 3299
#define IDC_PIN_LABEL 3301
#define IDC_PIN 3302
#define IDC_PIN_ERR 3303
#define IDC_PIN_LAST 3399
#define IDC_SC_TEMPLATE_LABEL 3401
#define IDC_SC_TEMPLATE 3402
#define IDC_SC_TEMPLATE_ERR 3403
#define IDC_SC_TEMPLATE_LAST 3499

// Strings.
#define IDS_TITLE_TTLS 100
#define IDS_TITLE_SIM 101
#define IDS_TITLE_AKA 102
#define IDS_TITLE_OTHER 103
#define IDS_SOURCE_SAVED 110
#define IDS_SOURCE_PROMPT 111
#define IDS_SOURCE_SSO 112
#define IDS_COLUMN_READER 120
#define IDS_COLUMN_CARD 121
#define IDS_COLUMN_KIND 122
#define IDS_KIND_SIM 123
#define IDS_KIND_SIM_PIN 124
#define IDS_KIND_CARD 125
#define IDS_PIN_NOT_ACCEPTED 130
#define IDS_TEXT_NOT_STORABLE 131
