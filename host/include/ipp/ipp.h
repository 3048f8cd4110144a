/* The two Intel IPP functions the plug-in calls (ippiReduceBits_8u_C1R and its buffer-size query),
 * with IPP's public names, types and values, declared from Intel's public reference. Only on the
 * include path when no real IPP is found: host/ipp_compat defines the functions then. */
#ifndef VEROVE_IPP_COMPAT_IPP_H
#define VEROVE_IPP_COMPAT_IPP_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char Ipp8u;

typedef struct {
    int width;
    int height;
} IppiSize;

/* The status values these two functions return; the numbers are IPP's. */
typedef enum {
    ippStsNotSupportedModeErr = -9999, /* a mode IPP has and this stand-in does not (noise > 0) */
    ippStsDitherTypeErr = -224,
    ippStsNoiseValErr = -55,
    ippStsDitherLevelsErr = -54,
    ippStsChannelErr = -47,
    ippStsStepErr = -14,
    ippStsDataTypeErr = -12,
    ippStsNullPtrErr = -8,
    ippStsSizeErr = -6,
    ippStsNoErr = 0
} IppStatus;

typedef enum {
    ippDitherNone = 0,
    ippDitherFS = 1,
    ippDitherJJN = 2,
    ippDitherStucki = 3,
    ippDitherBayer = 4
} IppiDitherType;

typedef enum {
    ippC0 = 0,
    ippC1 = 1,
    ippC2 = 2,
    ippC3 = 3,
    ippC4 = 4,
    ippP2 = 5,
    ippP3 = 6,
    ippP4 = 7,
    ippAC1 = 8,
    ippAC4 = 9,
    ippA0C4 = 10,
    ippAP4 = 11
} IppChannels;

/* Size in bytes of the work buffer ippiReduceBits_8u_C1R needs for this ROI width and dither type.
 * Errors: ippStsNullPtrErr, ippStsSizeErr (a side <= 0), ippStsChannelErr (not ippC1),
 * ippStsDataTypeErr (noise outside 0..100), ippStsDitherTypeErr. */
IppStatus ippiReduceBitsGetBufferSize(IppChannels ippChan, IppiSize roiSize, int noise,
                                      IppiDitherType dtype, int* pBufferSize);

/* Reduces an 8-bit one-channel ROI to `levels` evenly spaced grey levels (2 levels: 0 and 255),
 * with the given dither type. pSrc may equal pDst when the steps are equal.
 * Errors: ippStsNullPtrErr, ippStsSizeErr (a side <= 0), ippStsStepErr (a step < width),
 * ippStsNoiseValErr (noise outside 0..100), ippStsNotSupportedModeErr (noise > 0),
 * ippStsDitherLevelsErr (levels outside 2..256), ippStsDitherTypeErr. */
IppStatus ippiReduceBits_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                IppiSize roiSize, int noise, IppiDitherType dtype, int levels,
                                Ipp8u* pBuffer);

#ifdef __cplusplus
}
#endif

#endif /* VEROVE_IPP_COMPAT_IPP_H */
