/*
 * vtBoxBRD.h - the engine library's exported interface.
 *
 * Plain C: records with fixed field order and widths, and free functions that
 * return a result code (VTBOX_E_SUCCESS, 0, or another code of vtresult.h,
 * whose text vtGetMessageText of vtplatform.h gives) or a memory handle with
 * the code left as the thread's last error.
 *
 * Ownership: the caller owns every record it passes (session, progress,
 * version, output buffers) and the two events of a long operation. The engine
 * fills them and keeps no pointer to them after a call returns. Lists that the
 * engine returns are one block of fixed global memory; the returned handle owns
 * it and the caller frees it with GlobalFree. The engine keeps no state
 * between calls beyond what the session record holds.
 *
 * Threads: one VTMFPSESSION is used by one thread at a time. The long
 * operations change the process's current folder, so no two of them may run
 * at once in one process.
 */
#ifndef VTBOXBRD_H
#define VTBOXBRD_H

#include <stdint.h>

#include "vtplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VTBOXBRD_BUILDING)
#define VTBOX_API __attribute__((visibility("default")))
#else
#define VTBOX_API
#endif

/* ---- records ------------------------------------------------------------ */

/* One device connection. The caller fills Host and Port (and Reserved2),
 * passes the record to vtBoxOpenConnection, to every later call for that
 * device, and finally to vtBoxCloseConnection. The session is open while
 * ConnectHandle is not NULL and SessionId is not 0. */
typedef struct _VTMFPSESSION {
    char Host[512];         /* device host name or dotted IPv4 text */
    uint32_t Port;          /* box web service port (the utility uses 8080) */
    uint8_t Reserved[1024]; /* never read or written */
    uint32_t Reserved2;     /* set by the utility to 10000; never read */
    void *InternetHandle;   /* engine: transport session */
    void *ConnectHandle;    /* engine: connection to Host:Port */
    uint32_t SessionId;     /* engine: web session number, 0 = none */
} VTMFPSESSION;

/* Engine version and MAC address of a device. */
typedef struct _VTENGVERSION {
    char EngineVersion[512];
    char MACAddress[512];
} VTENGVERSION;

/* One entry of the box list. */
typedef struct _VTBOX {
    uint32_t BoxNo;
    char BoxName[256];
    SYSTEMTIME LastUpdateDate; /* UTC */
    uint32_t Reserved0;        /* always 0 */
    uint32_t Protected;
} VTBOX;

/* One box's properties. Callers zero the record before the call. */
typedef struct _VTBOXEX {
    uint32_t BoxNo;
    char BoxName[256];
    char BoxOwner[256];
    SYSTEMTIME CreateDate; /* UTC */
    uint32_t Reserved0;    /* always 0 */
    uint32_t Protected;
    uint32_t NumOfDocs;
    uint32_t NumOfFolders;
    SYSTEMTIME LastUpdateDate; /* UTC */
    uint32_t BoxUsedDisk;
    uint32_t PreservationPeriod;
    char WarningNotice[256];
} VTBOXEX;

/* One folder (Kind 0) or document (Kind 1) of a box. */
typedef struct _VTBOXELEMENT {
    uint32_t Kind;
    uint32_t Id;
    uint16_t Name[128]; /* UTF-16, NUL-terminated */
    SYSTEMTIME CreateDate;
    SYSTEMTIME LastUpdateDate;
    uint32_t StatusFlag;
    uint32_t NumOfDocs;
    SYSTEMTIME LastAccessDate;
    uint32_t NumOfPages;
    uint32_t DocSize; /* bytes */
    uint32_t SourceType;
    uint32_t ColorMode;
    char ThumbnailPath[256];
    uint32_t XResolution;
    uint32_t YResolution;
    uint32_t Duplex;
} VTBOXELEMENT;

/* Progress of a long operation; written by the engine, read by the caller
 * whenever the progress event fires. */
typedef struct _VTPROGRESSINFO {
    int32_t Percent; /* 0..100 */
    int32_t DocsDone;
    int32_t DocsTotal;
    char BoxName[512];
    char FolderName[512];
    char DocName[512];
    int32_t Phase;   /* see the VTPHASE_ values */
    int32_t bDelete; /* conversions: the current document was removed */
    int32_t Flag;    /* conversions: filters that matched the current document */
} VTPROGRESSINFO;

enum {
    VTPHASE_FINISHED = 0,
    VTPHASE_PACKING = 1,
    VTPHASE_UNPACKING = 2,
    VTPHASE_CONVERTING = 2, /* conversions: boxes being converted */
    VTPHASE_DOWNLOADING = 3,
    VTPHASE_UPLOADING = 4,
    VTPHASE_PREPARING = 5,
    VTPHASE_TIDYING = 7,
    VTPHASE_FAILED = 8,
    VTPHASE_TOO_MANY_DOCUMENTS = 9,
    VTPHASE_TOO_MANY_FOLDERS = 10
};

/* Description of a backup (Kind 1) or archive (Kind 2) file. */
typedef struct _VTBACKUPINFO {
    SYSTEMTIME Date;
    char EngineVersion[512];
    char MACAddress[512];
    uint32_t Kind;
} VTBACKUPINFO;

/* One box of a backup description. */
typedef struct _VTBOXBK {
    uint32_t BoxNo;
    char BoxName[256];
    uint32_t Protected;
    uint32_t NumOfFolders;
    uint32_t NumOfDocs;
    uint32_t BoxUsedDisk;
} VTBOXBK;

/* ---- session calls ---------------------------------------------------------
 * Every call but vtBoxOpenConnection answers VTBOX_E_INVALID_PARAMETER at once, sending nothing,
 * when the session pointer is NULL or the session is not open. The password
 * is the device's administrator password; the engine keeps no copy of it. */

/* Opens the web session to Host:Port and fills InternetHandle, ConnectHandle
 * and SessionId, which the engine owns until vtBoxCloseConnection. A failure
 * before the device answers (no connection, no reply), a session number that
 * is 0 or not a number, and an unsupported engine version leave the three
 * fields cleared. A reply refused after that (not XML, no header, a Result
 * that is not success) leaves the record open (ConnectHandle set, SessionId
 * not 0): the caller then ends it with vtBoxCloseConnection like an open one.
 * Calling vtBoxCloseConnection after any failed open is always safe (VTBOX_E_INVALID_PARAMETER on a
 * record that is cleared). */
VTBOX_API uint32_t vtBoxOpenConnection(VTMFPSESSION *session);
/* Ends the web session and frees what vtBoxOpenConnection put into the
 * record, always leaving the three engine fields cleared. */
VTBOX_API uint32_t vtBoxCloseConnection(VTMFPSESSION *session);
/* Fills the caller's *version with the device's engine version and MAC
 * address, and so proves the password (VTBOX_E_WRONG_PASSWORD when it is wrong). */
VTBOX_API uint32_t vtBoxGetEngineVersion(VTMFPSESSION *session, const char *password, VTENGVERSION *version);
/* Locks the device's panel for a job (mode 0 backup, 1 restore) and writes
 * the device's time (seconds since 1970, UTC) into the caller's *device_time. */
VTBOX_API uint32_t vtBoxLockUiJob(VTMFPSESSION *session, const char *password, uint32_t mode, uint32_t *device_time);
/* Releases the panel that vtBoxLockUiJob locked with the same mode. */
VTBOX_API uint32_t vtBoxUnlockUiJob(VTMFPSESSION *session, const char *password, uint32_t mode);
/* Creates the device's temporary FTP account and copies its login name,
 * cut to fit, into login_name, a caller buffer of 256 bytes. */
VTBOX_API uint32_t vtBoxCreateFTPAccount(VTMFPSESSION *session, const char *password, char *login_name);
/* Deletes the temporary FTP account that vtBoxCreateFTPAccount made. */
VTBOX_API uint32_t vtBoxDeleteFTPAccount(VTMFPSESSION *session, const char *password);

/* Gives the session a cancel event (NULL: none), which the engine does not
 * own: once it is signalled, every box service request of the session, the
 * one in flight included, ends within about a second with VTBOX_E_CANCELLED, whatever the
 * device does. A caller uses it to bound the release of the device at the end
 * of a job (unlock, FTP account, close) by a time of its own choosing. */
VTBOX_API uint32_t vtBoxSetRequestCancelEvent(VTMFPSESSION *session, HANDLE cancel_event);

/* ---- box calls -------------------------------------------------------------- */

/* Returns the box list as one block of *count VTBOX records (also given in
 * *boxes), owned by the returned handle, which the caller frees with
 * GlobalFree; NULL on failure with the code as last error. */
VTBOX_API HGLOBAL vtBoxGetBoxList(VTMFPSESSION *session, uint32_t *count, VTBOX **boxes);
/* Fills the caller's *box with one box's properties and, when raw_name (a
 * caller buffer of 256 bytes) is not NULL, the name as the reply spelled it. */
VTBOX_API uint32_t vtBoxGetBoxProperty(VTMFPSESSION *session, uint32_t box_no, const char *password, VTBOXEX *box,
                                       char *raw_name);
/* Deletes every box of the device with everything in it. */
VTBOX_API uint32_t vtBoxDeleteAllBox(VTMFPSESSION *session, const char *password);
/* Writes the device's box storage capacity and what is still available (both
 * in KB) into the caller's *capacity and *available. */
VTBOX_API uint32_t vtBoxGetBoxDiskSpace(VTMFPSESSION *session, const char *password, uint32_t *capacity,
                                        uint32_t *available);

/* ---- folder and document calls --------------------------------------------- */

/* Returns the folders, then the documents, of a box's top level (folder 0)
 * or of one folder as one block of *count VTBOXELEMENT records (also given in
 * *elements), owned by the returned handle, which the caller frees with
 * GlobalFree; NULL on failure with the code as last error. */
VTBOX_API HGLOBAL vtBoxGetCollection(VTMFPSESSION *session, uint32_t box_no, const char *password, uint32_t folder_no,
                                     uint32_t *count, VTBOXELEMENT **elements);
/* Deletes one document (doc_no, not 0) of a box's top level (folder 0) or of
 * one folder. */
VTBOX_API uint32_t vtBoxDeleteDocument(VTMFPSESSION *session, uint32_t box_no, const char *password, uint32_t folder_no,
                                       uint32_t doc_no);
/* Tells the box service that an entry of a box (a folder, or a document at
 * the top level or in a folder) is being written, with the service's NOC and
 * MOD values (a document 0 and 0, a folder 2 and 1). */
VTBOX_API uint32_t vtBoxDirSerialClusterChange(VTMFPSESSION *session, uint32_t box_no, const char *password,
                                               uint32_t folder_no, uint32_t doc_no, uint32_t noc, uint32_t mod);

/* ---- backup files ------------------------------------------------------------ */

/* Reads the description of a backup or archive file into the caller's *info;
 * for a backup, *count is the number of boxes and *boxes the box array, owned
 * by *handle, which the caller frees with GlobalFree(*handle); for an archive,
 * *count is its document count and *boxes and *handle stay NULL. work_folder
 * is an existing folder used for a moment and left as it was. */
VTBOX_API uint32_t vtBoxGetXMLInfo(const char *archive_path, const char *work_folder, VTBACKUPINFO *info,
                                   uint32_t *count, VTBOXBK **boxes, void **handle);

/* Writes into the caller's *offset_minutes the offset from UTC of the date in
 * a backup file's description (the local time of the computer that made it),
 * positive east of Greenwich; VTBOX_E_NOT_FOUND when the description records none;
 * work_folder as for vtBoxGetXMLInfo. */
VTBOX_API uint32_t vtBoxGetBackupTimeZone(const char *archive_path, const char *work_folder, int32_t *offset_minutes);

/* What a failed long operation may leave in its work folder for the caller
 * to keep, as it may be the only copy of what it holds: */
/* vtBoxBackup: the complete backup file, when it could not be put in place
 * as the target file. */
#define VTBOX_KEPT_BACKUP "BOX.zip"
/* vtBoxRestore: copies of device documents that a replace-mode restore had
 * to delete before their replacements were complete, and that could not be
 * put back (one folder per document, with a NOTE.txt saying what it is). */
#define VTBOX_RESCUE_FOLDER "RESCUE"

/* Backs the chosen boxes up into target_file, which is replaced only once the
 * new file is complete; runs synchronously on the calling thread, writing
 * *progress and signalling progress_event after each update, and stops with
 * VTBOX_E_CANCELLED when cancel_event (may be NULL) is signalled; the caller holds the lock
 * (mode 0) and the FTP account ftp_user for the whole call, and work_folder
 * is left as it was, but for a complete backup that cannot be put in place
 * as target_file: it stays in work_folder as VTBOX_KEPT_BACKUP, and the
 * failure's detail names it. The backup's work tree is work_folder/BOX, made
 * new: a BOX already there is the caller's, left as it was, and the call fails
 * with VTBOX_E_ALREADY_EXISTS, the detail naming it. A box_count of 0 is
 * refused with VTBOX_E_INVALID_PARAMETER (no file is made); a box number
 * given more than once is backed up once, where it first comes. */
VTBOX_API uint32_t vtBoxBackup(VTMFPSESSION *session, const char *password, const char *ftp_user,
                               const char *work_folder, const char *target_file, uint32_t box_count,
                               const uint32_t *box_numbers, HANDLE cancel_event, HANDLE progress_event,
                               VTPROGRESSINFO *progress);

/* Writes the chosen boxes of backup_file back into the device, mode 1
 * replacing same-named documents and any other value keeping both (the
 * restored ones renamed); runs synchronously like vtBoxBackup, with the lock
 * (mode 1) held by the caller and device_time the time vtBoxLockUiJob
 * returned; the file and work_folder are left as they were (a BOX already in
 * work_folder too: the call then fails with VTBOX_E_ALREADY_EXISTS, the
 * detail naming it, as vtBoxBackup does), but for rescue copies: a device
 * document that has to go before its replacement is on the device (its level
 * holds the device's limit of documents) is first copied
 * into work_folder/VTBOX_RESCUE_FOLDER, and when the replacement fails it is
 * put back from there; a copy that could not be put back stays (the failure's
 * detail names it), also when the call is cancelled, and the caller keeps it. */
VTBOX_API uint32_t vtBoxRestore(VTMFPSESSION *session, const char *password, const char *ftp_user,
                                const char *work_folder, const char *backup_file, uint32_t box_count,
                                const uint32_t *box_numbers, uint32_t mode, uint32_t device_time, HANDLE cancel_event,
                                HANDLE progress_event, VTPROGRESSINFO *progress);

/* ---- checking a backup file and planning a restore ------------------------ */

/* One thing wrong with a backup file. */
typedef struct _VTCHECKITEM {
    uint32_t BoxNo;  /* the box concerned, 0 for the file as a whole */
    char Entry[512]; /* the archive entry or record concerned, "" when none */
    char Text[512];  /* what is wrong, in words */
} VTCHECKITEM;

/* What a restore would do with one entry of a box, one line of the plan. */
typedef struct _VTRESTOREPLAN {
    uint32_t BoxNo;
    uint32_t Action;   /* see the VTPLAN_ values */
    uint32_t FolderNo; /* documents: the folder they go to (0 = the box's top
                         * level), as numbered on the device after the restore */
    uint32_t EntryNo;  /* the folder's or document's number in the backup */
    uint32_t NewNo;    /* the number it takes on the device */
    uint32_t DeviceNo; /* replace: the number of the device's document deleted */
    char Name[256];    /* its name in the backup (UTF-8) */
    char NewName[256]; /* the name it takes on the device (UTF-8) */
    uint32_t Count;    /* limits: entries the level would hold; disk: KB the box needs */
    uint32_t Limit;    /* limits: the device's limit; disk: KB the device has free */
} VTRESTOREPLAN;

enum {
    VTPLAN_NEW_BOX = 1,            /* the device lacks the box: it is made whole */
    VTPLAN_MERGE_BOX = 2,          /* the box exists: the backup is merged into it */
    VTPLAN_ADD_DOCUMENT = 3,       /* a document is added under its name */
    VTPLAN_REPLACE_DOCUMENT = 4,   /* replace mode: the device's document DeviceNo of that name goes once NewNo
                                  * is complete; one line for each device document of the name */
    VTPLAN_RENAME_DOCUMENT = 5,    /* keep-both mode: the document is added as NewName */
    VTPLAN_ADD_FOLDER = 6,         /* a folder is added */
    VTPLAN_MERGE_FOLDER = 7,       /* a folder pours into the device's folder NewNo of the same name */
    VTPLAN_TOO_MANY_DOCUMENTS = 8, /* refused: a level would hold Count documents, above Limit */
    VTPLAN_TOO_MANY_FOLDERS = 9,   /* refused: the box would hold Count folders, above Limit */
    VTPLAN_DISK_SPACE = 10,        /* the box needs Count KB; the device has Limit KB free */
    VTPLAN_NO_DISK_SPACE = 11      /* refused: Count KB needed is not below Limit KB free */
};

/* Reads the whole backup file without a device: every entry of the file, of
 * its record and data archives and of every box archive (byte change undone)
 * read in full against its CRC, the description parsed and its counts
 * compared with what the box archives hold, a record for every document and
 * folder and the reverse, and every level held to what a backup file holds
 * there (the same checks vtBoxRestore and vtBoxPlanRestore refuse a file by);
 * returns 0 when nothing is wrong, VTBOX_E_DAMAGED_FILE when something is, each finding then one of the *count VTCHECKITEM records of the block
 * owned by *handle (freed with GlobalFree(*handle), NULL when *count is 0), or
 * another code when the file cannot be read at all; work_folder is an
 * existing folder used for unpacking and left as it was. */
VTBOX_API uint32_t vtBoxCheckBackup(const char *backup_file, const char *work_folder, uint32_t *count,
                                    VTCHECKITEM **items, void **handle);

/* Works out what vtBoxRestore would do with the chosen boxes of backup_file
 * in the given mode, reading the device's entries and free space only (no
 * lock, no FTP account, nothing written to the device), and returns it as one
 * block of *count VTRESTOREPLAN records (also given in *items), owned by the
 * returned handle, which the caller frees with GlobalFree; NULL on failure
 * with the code as last error (VTBOX_E_DAMAGED_FILE for a file vtBoxRestore would refuse as
 * damaged); work_folder as for vtBoxRestore. */
VTBOX_API HGLOBAL vtBoxPlanRestore(VTMFPSESSION *session, const char *password, const char *work_folder,
                                   const char *backup_file, uint32_t box_count, const uint32_t *box_numbers,
                                   uint32_t mode, uint32_t *count, VTRESTOREPLAN **items);

/* ---- browsing a backup file -------------------------------------------------
 * A backup file is read here without a device, through the same checks as
 * vtBoxCheckBackup and vtBoxRestore: a file they call damaged is refused
 * (VTBOX_E_DAMAGED_FILE), never shown as if it were whole. A part of the
 * file is named by three numbers, as the file numbers it: a box (b, 0, 0),
 * a folder (b, f, 0), a document (b, f, d), f 0 for the box's top level. */

enum {
    VTENTRY_FOLDER = 0, /* the values of VTBOXELEMENT's Kind */
    VTENTRY_DOCUMENT = 1,
    VTENTRY_BOX = 2
};

/* A part of a backup file chosen for a job: a whole box, a whole folder or
 * one document, by the numbers above (those of its VTBACKUPENTRY). */
typedef struct _VTBACKUPITEM {
    uint32_t BoxNo;
    uint32_t FolderNo;
    uint32_t DocNo;
} VTBACKUPITEM;

/* One part of a backup file, as vtBoxListBackup lists it. */
typedef struct _VTBACKUPENTRY {
    uint32_t Kind; /* VTENTRY_BOX, VTENTRY_FOLDER or VTENTRY_DOCUMENT */
    uint32_t BoxNo;
    uint32_t FolderNo;     /* a folder's own number; a document's folder (0: the top level) */
    uint32_t DocNo;        /* a document's number; 0 for a box or folder */
    char Name[256];        /* UTF-8: a box's from the description, the others' from their records */
    uint32_t NumOfFolders; /* a box: its folders */
    uint32_t NumOfDocs;    /* a box: all its documents; a folder: those in it */
    uint32_t NumOfPages;   /* a document: the page count its record gives */
    uint32_t NumOfFiles;   /* a document: its files in the backup (pages, thumbnail; no status file) */
    uint64_t Size;         /* bytes of a document's files; of all its documents' for a folder or box */
    SYSTEMTIME Date;       /* UTC: the record's last update; a box's latest entry; zeroed when none */
    uint32_t ColourFlags;  /* a document's record: colour flags (16 bits), */
    uint32_t PaperFlags;   /*   paper flags, */
    uint32_t MixFlags;     /*   mix flags (8 bits), the bytes the conversions' filters read */
    uint32_t Kinds;        /* the VTCONVERT_ bits of the filters the document meets */
} VTBACKUPENTRY;

/* A listing holds at most this many entries (about 66 MB): five boxes filled
 * to the device's limits (100 folders of 400 documents and 400 more at the
 * top level). A larger one is refused with VTBOX_E_MORE_DATA; list fewer
 * boxes at a time. */
#define VTBOX_MAX_LISTED_ENTRIES 200000u

/* Lists what backup_file holds, without a device: for each chosen box
 * (box_count 0: every box the description lists, in its order) the box, then
 * its folders, each followed by its documents, then its top-level documents,
 * by number, as one block of *count VTBACKUPENTRY records (also given in
 * *items), owned by the returned handle, which the caller frees with
 * GlobalFree; NULL on failure with the code as last error. Every entry of a
 * listed box is read against its CRC; a box the file does not hold is
 * VTBOX_E_NOT_FOUND. work_folder is an existing folder used for unpacking
 * the records and left as it was. */
VTBOX_API HGLOBAL vtBoxListBackup(const char *backup_file, const char *work_folder, uint32_t box_count,
                                  const uint32_t *box_numbers, uint32_t *count, VTBACKUPENTRY **items);

/* Called by vtBoxListBackupEach with each entry in turn (valid for the call
 * only) and the caller's context; nonzero ends the listing. */
typedef uint32_t (*VTLISTENTRYPROC)(const VTBACKUPENTRY *entry, void *context);

/* Lists what backup_file holds as vtBoxListBackup does, with the same checks,
 * order and bound, but hands each entry to entry_proc as it is read instead
 * of keeping the listing: a box at a time is held, whatever the file holds.
 * A box the file does not hold, or more entries than the bound the
 * description declares, fail before any entry is handed out; a damaged box
 * fails when it is reached, after the boxes before it. Returns 0, or the
 * code (also the last error): VTBOX_E_CANCELLED when entry_proc ended it. */
VTBOX_API uint32_t vtBoxListBackupEach(const char *backup_file, const char *work_folder, uint32_t box_count,
                                       const uint32_t *box_numbers, VTLISTENTRYPROC entry_proc, void *context);

/* How a part of a backup file stands on the device now. */
enum {
    VTDIFF_ONLY_IN_BACKUP = 1, /* gone from the device since the backup */
    VTDIFF_ONLY_ON_DEVICE = 2, /* new on the device since the backup */
    VTDIFF_CHANGED = 3         /* in both, but different (Differs says how) */
};
#define VTDIFF_PAGES 1u /* the page counts differ */
#define VTDIFF_SIZE 2u  /* the sizes differ, in whole KB (the device's unit) */
#define VTDIFF_DATE 4u  /* the last update times differ */

/* One difference between a backup file and the device. Folders are matched
 * by name, as the restore merges them, and documents by name within them
 * (those of one name by number first, then in order); a folder only on one
 * side stands for its documents, a box only in the backup for all of it. */
typedef struct _VTBACKUPDIFF {
    uint32_t Change; /* VTDIFF_ONLY_IN_BACKUP, VTDIFF_ONLY_ON_DEVICE or VTDIFF_CHANGED */
    uint32_t Kind;   /* VTENTRY_BOX, VTENTRY_FOLDER or VTENTRY_DOCUMENT */
    uint32_t BoxNo;
    uint32_t FolderNo;       /* as in VTBACKUPENTRY, in the backup (a document only on the device: the
                              * backup's number of its folder); 0 for a folder only on the device */
    uint32_t DocNo;          /* the document's number in the backup; 0 when only on the device */
    uint32_t DeviceFolderNo; /* the same on the device; 0 for what is only in the backup */
    uint32_t DeviceDocNo;
    char FolderName[256]; /* a document's folder (UTF-8), "" at the box's top level */
    char Name[256];       /* the folder's or document's name (UTF-8); a box's from the description */
    uint32_t Differs;     /* VTDIFF_CHANGED: the VTDIFF_ bits of what differs */
    uint32_t BackupPages;
    uint32_t DevicePages;
    uint64_t BackupSize; /* bytes */
    uint64_t DeviceSize;
    SYSTEMTIME BackupDate; /* UTC */
    SYSTEMTIME DeviceDate;
} VTBACKUPDIFF;

/* Compares the chosen boxes of backup_file (box_count 0: every box it
 * holds) with the device, reading the device's lists only (no lock, no FTP
 * account, nothing written), and returns the differences, box by box, as one
 * block of *count VTBACKUPDIFF records (also given in *items; *count 0 when
 * the device holds what the backup holds), owned by the returned handle,
 * which the caller frees with GlobalFree; NULL on failure with the code as
 * last error. The backup is read as vtBoxListBackup reads it (a damaged file
 * is VTBOX_E_DAMAGED_FILE); boxes of the device that the backup does not hold
 * are not looked at. At most VTBOX_MAX_LISTED_ENTRIES differences
 * (VTBOX_E_MORE_DATA beyond). work_folder as for vtBoxListBackup. */
VTBOX_API HGLOBAL vtBoxCompareBackup(VTMFPSESSION *session, const char *password, const char *work_folder,
                                     const char *backup_file, uint32_t box_count, const uint32_t *box_numbers,
                                     uint32_t *count, VTBACKUPDIFF **items);

/* Called by vtBoxCompareBackupEach with each difference in turn (valid for
 * the call only) and the caller's context; nonzero ends the comparison. */
typedef uint32_t (*VTDIFFPROC)(const VTBACKUPDIFF *difference, void *context);

/* Compares as vtBoxCompareBackup does, with the same checks, order and bound,
 * but hands each difference to diff_proc as it is found instead of keeping
 * them: one box of the backup is held at a time, whatever the file holds,
 * and the differences of the boxes before a failure have been handed out.
 * Returns 0, or the code (also the last error): VTBOX_E_CANCELLED when
 * diff_proc ended it. */
VTBOX_API uint32_t vtBoxCompareBackupEach(VTMFPSESSION *session, const char *password, const char *work_folder,
                                          const char *backup_file, uint32_t box_count, const uint32_t *box_numbers,
                                          VTDIFFPROC diff_proc, void *context);

/* One document that vtBoxExtractDocuments wrote. */
typedef struct _VTEXTRACTED {
    uint32_t BoxNo;
    uint32_t FolderNo;
    uint32_t DocNo;
    char Name[256];      /* the document's name (UTF-8), as its record gives it */
    char Folder[256];    /* the folder made for it in the target folder: one name, made safe */
    uint32_t NumOfFiles; /* files written into it: its record and its page files */
    uint64_t Size;       /* their bytes */
} VTEXTRACTED;

/* Writes the documents of the chosen parts of backup_file (item_count
 * VTBACKUPITEM records: a box or folder stands for its documents) into the
 * existing folder target_folder, without a device: each document's record
 * and page files (no status file) in a folder of its own named after the
 * document, the name made safe (SafeLocalName: one name, never a path, no
 * control character, never hidden, at most 200 bytes, "D0000nnn" when
 * empty) and numbered " (2)", " (3)", ... when taken; nothing is ever
 * written outside target_folder, over an existing file, or through a link.
 * Each document's folder appears whole or not at all (written under the hidden
 * name ".vtbox-extract-<process number>-<n>" first); those written before a
 * failure stay. Returns the documents
 * as one block of *count VTEXTRACTED records (also given in *extracted),
 * owned by the returned handle, which the caller frees with GlobalFree; NULL
 * on failure with the code as last error (VTBOX_E_NOT_FOUND for a chosen
 * part the file does not hold, looked for before anything is written;
 * VTBOX_E_DAMAGED_FILE as for vtBoxListBackup). Boxes are read one at a
 * time, in the order first named, and each document is written as soon as
 * its entries have been read against their CRCs, by number within its box:
 * a box found damaged part-way keeps the documents written before. Files
 * are made readable by their owner only, as backups are. work_folder as
 * for vtBoxListBackup (it holds, for the while, the box archive being read
 * and the chosen documents not yet written). cancel_event (may be NULL)
 * ends the extraction with VTBOX_E_CANCELLED between entries, documents and
 * blocks of a file; the document being written then is removed, those
 * written before stay. */
VTBOX_API HGLOBAL vtBoxExtractDocuments(const char *backup_file, const char *work_folder, const char *target_folder,
                                        uint32_t item_count, const VTBACKUPITEM *items, HANDLE cancel_event,
                                        uint32_t *count, VTEXTRACTED **extracted);

/* Called by vtBoxExtractDocumentsEach with each document in turn, once it
 * has its final name in the target folder (valid for the call only), and
 * the caller's context; nonzero ends the extraction. */
typedef uint32_t (*VTEXTRACTPROC)(const VTEXTRACTED *document, void *context);

/* Extracts as vtBoxExtractDocuments does, with the same checks, rules and
 * order, but hands each document to document_proc as it is written instead
 * of keeping them: one box of the file is held at a time, whatever the file
 * holds, and the documents written before a failure have been handed out.
 * Returns 0, or the code (also the last error): VTBOX_E_CANCELLED when
 * document_proc ended it (the documents written so far stay). */
VTBOX_API uint32_t vtBoxExtractDocumentsEach(const char *backup_file, const char *work_folder,
                                             const char *target_folder, uint32_t item_count, const VTBACKUPITEM *items,
                                             HANDLE cancel_event, VTEXTRACTPROC document_proc, void *context);

/* Writes the chosen parts of backup_file back into the device: whole boxes,
 * whole folders and single documents (item_count VTBACKUPITEM records, at
 * least one), with every rule of vtBoxRestore, its arguments and its
 * ownership: each box is restored as a box that held only its chosen part,
 * so that the device's other documents stay as they are (same numbers, same
 * content) but where the mode settles a clash of names. A chosen document
 * whose folder the device lacks (no folder of its name) brings its folder
 * along, holding the chosen documents only. Every chosen folder and document
 * is looked for before anything is sent: one the file does not hold fails
 * with VTBOX_E_NOT_FOUND (its item in the failure's detail) and the device as
 * it was. The space a box needs is what its chosen part takes. */
VTBOX_API uint32_t vtBoxRestoreSelection(VTMFPSESSION *session, const char *password, const char *ftp_user,
                                         const char *work_folder, const char *backup_file, uint32_t item_count,
                                         const VTBACKUPITEM *items, uint32_t mode, uint32_t device_time,
                                         HANDLE cancel_event, HANDLE progress_event, VTPROGRESSINFO *progress);

/* Works out what vtBoxRestoreSelection would do, as vtBoxPlanRestore does
 * for vtBoxRestore (no lock, no FTP account, nothing written to the device),
 * with the same ownership of the returned block. */
VTBOX_API HGLOBAL vtBoxPlanRestoreSelection(VTMFPSESSION *session, const char *password, const char *work_folder,
                                            const char *backup_file, uint32_t item_count, const VTBACKUPITEM *items,
                                            uint32_t mode, uint32_t *count, VTRESTOREPLAN **plan);

/* Called by vtBoxPlanRestoreEach with each line of the plan in turn (valid
 * for the call only) and the caller's context; nonzero ends the plan. */
typedef uint32_t (*VTPLANITEMPROC)(const VTRESTOREPLAN *item, void *context);

/* Works out what vtBoxRestore would do with the chosen boxes (item_count 0)
 * or vtBoxRestoreSelection with the chosen items (item_count above 0; the
 * boxes are then not looked at), with the same checks and the same lines in
 * the same order as vtBoxPlanRestore and vtBoxPlanRestoreSelection, but
 * hands each line to item_proc as it is worked out instead of keeping the
 * plan: a box at a time is held, whatever the file holds. A file refused as
 * a whole fails before any line is handed out; a damaged box fails when it
 * is reached, after the lines of the boxes before it. Returns 0, or the code
 * (also the last error): VTBOX_E_CANCELLED when item_proc ended it. */
VTBOX_API uint32_t vtBoxPlanRestoreEach(VTMFPSESSION *session, const char *password, const char *work_folder,
                                        const char *backup_file, uint32_t box_count, const uint32_t *box_numbers,
                                        uint32_t item_count, const VTBACKUPITEM *items, uint32_t mode,
                                        VTPLANITEMPROC item_proc, void *context);

/* ---- whole-store packing ---------------------------------------------------- */

/* Packs a local copy of the store (store_root/BOX, consumed on the way) into
 * archive_path, which an older file gives way to only once the new one is
 * complete; *progress (may be NULL) takes the percentage and progress_event
 * (may be NULL) is signalled after each step; reserved is not read. */
VTBOX_API uint32_t vtBoxZipAllVaultraData(const char *archive_path, const char *store_root, void *reserved,
                                          HANDLE progress_event, uint32_t *progress);
/* Unpacks an archive that vtBoxZipAllVaultraData made into store_root/BOX,
 * box folders included, keeping the archive; progress as there. */
VTBOX_API uint32_t vtBoxUnzipAllVaultraData(const char *archive_path, const char *store_root, void *reserved,
                                            HANDLE progress_event, uint32_t *progress);

/* ---- conversion between engine versions ------------------------------------
 * Which documents a conversion drops comes from the settings file of the
 * source version, "<source_version>.ini" with every "/" turned into "_",
 * found beside the running program, in the current folder, in the installed
 * data folder (<prefix>/share/vtbox/conversion) or in a folder of
 * VTBOX_CONVERSION_PATH; its section named after the destination version
 * turns ColorCheck, WidePaperCheck and CopyCompoundCheck on (non-zero).
 * The bits of the per-document Flag and of the summary mask: */
#define VTCONVERT_COLOUR 1u     /* colour documents */
#define VTCONVERT_WIDE_PAPER 2u /* documents on wide paper */
#define VTCONVERT_COPY_MIX 4u   /* copy documents of mixed kind */

/* Writes into destination (which must not exist; it appears only when
 * complete) the backup file source made for destination_version, without
 * the documents its checks drop and with the boxes' totals lowered; source
 * is never changed, work_folder holds the work folder BOX for the length of
 * the call (an older BOX there is removed), and the call runs synchronously
 * like vtBoxBackup, with *progress written throughout, progress_event (may be
 * NULL; then nothing waits for a watcher) set after each change and VTBOX_E_CANCELLED when
 * cancel_event (may be NULL) is signalled. */
VTBOX_API uint32_t vtBoxConvertBackupData(const char *source, const char *destination, const char *work_folder,
                                          const char *source_version, const char *destination_version,
                                          HANDLE cancel_event, HANDLE progress_event, VTPROGRESSINFO *progress);
/* The same for a document archive (Archive.XML and one D0000nnn.zip per
 * document), working in a folder of its own made and removed in temp_folder;
 * 259 when no document would be left. */
VTBOX_API uint32_t vtBoxConvertArchiveData(const char *source, const char *destination, const char *temp_folder,
                                           const char *source_version, const char *destination_version,
                                           HANDLE cancel_event, HANDLE progress_event, VTPROGRESSINFO *progress);
/* Writes into the caller's *checks the VTCONVERT_ bits of the documents a
 * conversion from source_version to destination_version would drop (0 when
 * the settings file has no section for the destination), touching no file
 * but the settings file; *checks is 0 after a failure. */
VTBOX_API uint32_t vtBoxGetConvertSummary(const char *source_version, const char *destination_version,
                                          uint32_t *checks);

/* ---- failure detail --------------------------------------------------------- */

/* Returns the detail of the last failing engine call on this thread: where it
 * failed (the box, the file, the FTP reply or the HTTP status), as in
 * "FTP 451 on STOR /SHR/BOX/DATA/B0000002/P0000001/D0000003.XML"; "" when the
 * call succeeded or gave no detail, never NULL and never a password. The text
 * belongs to the engine and stays valid until the next engine call on this
 * thread. */
VTBOX_API const char *vtBoxGetLastErrorText(void);

/* ---- progress ----------------------------------------------------------------- */

/* Returns the bytes that the long operation running in this process (or the
 * last one) has downloaded from the device so far, over all its connections.
 * Any thread may call it while the operation runs, as often as it likes: it
 * reads one counter. Nothing to free. */
VTBOX_API uint64_t vtBoxGetDownloadedBytes(void);

#ifdef __cplusplus
}
#endif

#endif /* VTBOXBRD_H */
