################################################################################
#
# brimlib
#
################################################################################

BRIMLIB_VERSION = 0.1.0
# A checkout beside Buildroot (or BRIMLIB_OVERRIDE_SRCDIR in local.mk).
BRIMLIB_SITE = $(TOPDIR)/../brimlib
BRIMLIB_SITE_METHOD = local
BRIMLIB_LICENSE = Proprietary
BRIMLIB_INSTALL_STAGING = YES
BRIMLIB_DEPENDENCIES = cjson mosquitto

# Firmware mode: link the platform libraries found in the staging directory and build only
# what ships (libbrim.so, brim_init, the handler modules).
BRIMLIB_CONF_OPTS = \
	-DBRIM_PLATFORM_DIR=$(STAGING_DIR)/usr/lib

$(eval $(cmake-package))
