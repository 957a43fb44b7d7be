/*
** messages.h - every text the library prints, in one place.
**
** The library and its tests share these constants so that both see the
** same bytes. Each text is passed as the format of printf; only the three
** microstructure texts with %s take an argument.
*/
#ifndef VULMORA_MESSAGES_H
#define VULMORA_MESSAGES_H

/* ---- template entry points --------------------------------------------- */
/* The line of a placeholder: VULMORA_MSG_PLACEHOLDER("density"). */
#define VULMORA_MSG_PLACEHOLDER(name) "---> exit in C user function " name " <---\n"

/* ---- nodal and element accessors: a strict field is missing ------------ */
/* The two time levels of a field pair share their partner's text. */
#define VULMORA_MSG_VF_S " vf_s1 unavailable field in dll\n"
#define VULMORA_MSG_F_VOL " f_vol1 unavailable field in dll\n"
#define VULMORA_MSG_JCTN "unavailable field in dll\n"
#define VULMORA_MSG_FATIGUE_LIFE "fatigue_life unavailable field in dll\n"
#define VULMORA_MSG_EL_VOL "unavailable field in dll, i.e. : el_vol\n"
#define VULMORA_MSG_P0 "p0 : unavailable field in dll\n"
#define VULMORA_MSG_P1 "p1 : unavailable field in dll\n"
/* The host's mic_lastp array, needed in registration and local mode. */
#define VULMORA_MSG_MIC_LASTP "mic_lastp unavailable field in dll\n"

/* ---- integration-point means -------------------------------------------- */
/* The void-fraction text names fv_scale although fraction_void is tested. */
#define VULMORA_MSG_FRACTION_VOID " fv_scale unavailable field in dll\n"
#define VULMORA_MSG_EPSTN " epstn_new unavailable field in dll\n"
#define VULMORA_MSG_STRSG " strsg unavailable field in dll\n"
#define VULMORA_MSG_STRESS_3D "error : stress returning functions are intended for 3D cases only!\n"

/* ---- nearest-node search (not fatal, no newline) --------------------- */
#define VULMORA_MSG_NODNUM "internal error in nodNum function"

/* ---- microstructure and defect accessors -------------------------------- */
#define VULMORA_MSG_MICRO_OFF                                                                      \
    "Error: The microstructure module is not activated.\n"                                         \
    "       Mechanical properties defined in the user function environment cannot\n"               \
    "       depend on microstructure.\n"
#define VULMORA_MSG_MICRO_CLASS                                                                    \
    "Error: The material class employed\n"                                                         \
    "       to calculate mechanical property\n"                                                    \
    "       with the user function environment\n"                                                  \
    "       is not the material class employed in the microstructure model.\n"
#define VULMORA_MSG_CONSTITUENT_INACTIVE                                                           \
    "Error: The constituent %s employed\n"                                                         \
    "       to calculate mechanical property\n"                                                    \
    "       with the user function environment\n"                                                  \
    "       is not active in the microstructure model.\n"
#define VULMORA_MSG_AUX_INACTIVE                                                                   \
    "Error: The auxiliary variable %s employed\n"                                                  \
    "       to calculate mechanical property\n"                                                    \
    "       with the user function environment\n"                                                  \
    "       is not active in the microstructure model.\n"
#define VULMORA_MSG_CONSTITUENT_INDEX                                                              \
    "Error: The constituent index %d employed\n"                                                   \
    "       to calculate mechanical property\n"                                                    \
    "       with the user function environment\n"                                                  \
    "       is beyond the %d constituents of the host's table.\n"
#define VULMORA_MSG_AUX_INDEX                                                                      \
    "Error: The auxiliary variable index %d employed\n"                                            \
    "       to calculate mechanical property\n"                                                    \
    "       with the user function environment\n"                                                  \
    "       is beyond the %d auxiliary variables of the host's table.\n"
#define VULMORA_MSG_FRACTION_MODE "\nError: in getFraction() function of getVar\n"
#define VULMORA_MSG_MICRO_MODE "\nError: in getMicro() function of getVar\n"
#define VULMORA_MSG_DEFECT_INACTIVE                                                                \
    "Error: %s\n"                                                                                  \
    "       is used in a mechanical property user function\n"                                      \
    "       whereas the corresponding model is not activated.\n"
#define VULMORA_MSG_DEFECT_UNAUTHORIZED                                                            \
    "Error: An unauthorized defect\n"                                                              \
    "       is used in a mechanical property user function\n"
#define VULMORA_MSG_DEFECT_MODE "\nError: in getDefect() function of getVar\n"
#define VULMORA_MSG_FVOL_REGISTRATION                                                              \
    "\nError: FVOL cannot be used in user defined mechanical properties for the stress "           \
    "analysis.\n"
#define VULMORA_MSG_FVOL_LOCAL                                                                     \
    "\nError: in getDefect(). FVOL cannot be used in the stress analysis.\n"
#define VULMORA_MSG_TEMP_TABLE                                                                     \
    "Error: one of the mechanical properties defined\n"                                            \
    "       in the user function environment\n"                                                    \
    "       tries to access to a temperature table\n"                                              \
    "       which is not defined in Orvanel.\n"

#endif
