/* Numbers of the "Tag Format" dialog template and its controls. Read by the
   resource compiler as well as by C++: plain #defines only. */
#ifndef ETL_ADDRESS_DIALOG_IDS_H
#define ETL_ADDRESS_DIALOG_IDS_H

#define IDD_TAG_FORMAT 101

#define IDC_PLC_NUMBER 1037      /* edit: PLC number */
#define IDC_BIT_LIST 1022        /* list box: bit number, one row high */
#define IDC_PLC_ARROWS 1036      /* scroll bar: PLC number up/down */
#define IDC_PLC_LABEL 1057
#define IDC_MEMORY_LABEL 1054
#define IDC_ADDRESS_LABEL 1058
#define IDC_BIT_LABEL 1055
#define IDC_GATE_KIND 1060       /* combo box: gate kind */
#define IDC_MEMORY_TYPE 1006     /* combo box: memory type */
#define IDC_ADDRESS 1007         /* edit: address */
#define IDC_ADDRESS_ARROWS 1041  /* scroll bar: address up/down */
#define IDC_TAG_TYPE_LABEL -1

#endif
