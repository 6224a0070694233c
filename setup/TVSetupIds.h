// Identifiers of the controls, menu entries and timers of the settings
// program's windows; tests find the controls by them.
#pragma once

enum TVSetupControlId {
    // TTVSetupForm, in the order of its design
    IDC_SETUP_PAGES = 400,                // SetupPageControl
    IDC_SETUP_END = 401,                  // BBeenden
    IDC_SETUP_HELP_CERTS = 402,           // BHilfeZertifikatsdatenbank
    IDC_SETUP_IMPORT = 403,               // BImportieren
    IDC_SETUP_ACTIVATE = 404,             // BDeaktivieren
    IDC_SETUP_SELECT = 405,               // BSelect
    IDC_SETUP_TREE = 406,                 // CertTreeView
    IDC_SETUP_SELECTION = 407,            // CurSelectEdit
    IDC_SETUP_SEPARATOR = 408,            // PTrenner
    IDC_SETUP_PICTURE_CERTS = 409,        // TarvistoImageZertifikatsdatenbank
    IDC_SETUP_PICTURE_SETTINGS = 410,     // TarvistoImageEinstellungen
    IDC_SETUP_REMOVE = 411,               // BLoeschen
    IDC_SETUP_HELP_SETTINGS = 412,        // BHilfeEinstellungen
    IDC_SETUP_SAVE_SETTINGS = 413,        // BSpeichernEinstellungen
    IDC_SETUP_CRYPT_GROUP = 414,          // CryptGroupBox
    IDC_SETUP_DELETE_SOURCE = 415,        // CheckDelOwnFil
    IDC_SETUP_ZIP_GROUP = 416,            // ZipGroupBox
    IDC_SETUP_ZIP = 417,                  // CheckZip
    IDC_SETUP_UNZIP = 418,                // CheckUnZip
    IDC_SETUP_DEFAULT_SETTINGS = 419,     // BDefaultEinstellungen
    IDC_SETUP_PICTURE_OPTIONS = 420,      // TarvistoImageOptionen
    IDC_SETUP_OPTION_GROUP = 421,         // OptionGroupBox
    IDC_SETUP_SHOW_PKCS12 = 422,          // CheckShowPKCS12
    IDC_SETUP_SAVE_OPTIONS = 423,         // BSpeichernOptionen
    IDC_SETUP_DEFAULT_OPTIONS = 424,      // BDefaultOptionen
    IDC_SETUP_HELP_OPTIONS = 425,         // BHilfeOptionen
    IDC_SETUP_OPEN_ONLY = 426,            // ExecuteFilesOnly
    IDC_SETUP_OPEN_AND_SAVE = 427,        // ExecuteFilesAndSave
    IDC_SETUP_DELETE_SECURELY = 428,      // CheckDelSaveFile
    IDC_SETUP_ADD_PUBLIC = 429,           // CheckAddPubCert
    IDC_SETUP_SME_MAIL = 430,             // CheckSMEViaEMail
    IDC_SETUP_FEEDBACK = 431,             // BFeedback
    IDC_SETUP_ASK_SME_MAIL = 432,         // CheckAskSMEViaEMail
    // CertTreeViewPopUp
    IDM_SETUP_REMOVE = 450,               // PopUpLoeschen
    IDM_SETUP_SELECT = 451,               // PopUpSelect
    IDM_SETUP_IMPORT = 452,               // PopUpImportieren
    IDM_SETUP_UPDATE = 453,               // PopUpAktualisieren
    // TAboutTarvistoForm
    IDC_ABOUT_BY = 500,                   // STby
    IDC_ABOUT_MAIL = 501,                 // STMail
    IDC_ABOUT_HTTP = 502,                 // SThttp
    IDC_ABOUT_TITLE = 503,                // STQXCrypt
    IDC_ABOUT_VERSION = 504,              // ST2000
    IDC_ABOUT_MAIL_LABEL = 505,           // STEMail
    IDC_ABOUT_HOMEPAGE_LABEL = 506,       // STHomepage
    IDC_ABOUT_PANEL = 507,                // POnline
    IDC_ABOUT_GO_ON = 508,                // BWeiter
    IDC_ABOUT_SEPARATOR = 509,            // PTrenner
    IDC_ABOUT_BANNER = 510,               // Image1
    // TTVPasswordForm: the password question of our own PKCS#12 import
    IDC_PASSWORD_TEXT = 600,
    IDC_PASSWORD_EDIT = 601,
    IDC_PASSWORD_OK = 602,
    IDC_PASSWORD_CANCEL = 603,
};

// The pages of SetupPageControl.
enum TVSetupPage { kPageCertificates = 0, kPageSettings = 1, kPageOptions = 2 };
