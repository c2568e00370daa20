class _Constants:
    KMatrixPos_TimeLine, KMatrixPos_DayPos = 0, 1
    KFreq_Min, KFreq_Day, KFreq_Week, KFreq_Month, KFreq_Year = 1, 2, 3, 4, 5
    RUMMODE_PHASE_ONDATA = "ondata"

    def frequency_to_int(self, name):
        return {"min": 1, "day": 2, "week": 3, "month": 4, "year": 5}[name]

    def fq_to_int(self, setting):
        return 0


class _Phases:
    def enter_phase(self, phase):
        return lambda func: func


class SystemBaseVar:
    def __init__(self):
        self.g_VelmoroModeTaskId = 0
        self.g_VelmoroAccounts = []


class SystemBaseEnv:
    def __init__(self):
        self.vr = vr


gv = _Constants()
smm = _Phases()
vr = None
env = None
