<?xml version="1.0" encoding="utf-8"?>
<!-- The WiX v3 form of InstallHelper.wxs, which is written for WiX v4 and later: the same elements
     in the v3 namespace, the Binary named by BinaryKey instead of BinaryRef, and an action's
     condition as the text of its sequence element instead of a Condition attribute. Its first
     comment, which names the generation, is replaced; the rest is copied as it is.
       xsltproc -o InstallHelper.v3.wxs wix-v3.xsl InstallHelper.wxs
     With the parameter form set to "include" (xsltproc's stringparam option) it writes the form
     wixl takes, which reads only folders and component groups from a Fragment: the fragment's
     content under an Include element, for <?include InstallHelper.wxi?>. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:v4="http://wixtoolset.org/schemas/v4/wxs">
  <xsl:param name="form" select="'wxs'" />
  <xsl:variable name="v3" select="'http://schemas.microsoft.com/wix/2006/wi'" />
  <xsl:output method="xml" encoding="utf-8" />

  <xsl:template match="/">
    <xsl:comment> InstallHelper.dll in a package, for WiX v3 and wixl: made from InstallHelper.wxs (WiX v4 and
     later) at build time by wix-v3.xsl; change that file, not this one. A product takes all of it
     with one reference: this file among the sources and &lt;CustomActionRef Id="InstallCustomAction" /&gt;
     in the Product. wixl takes only folders and component groups from a Fragment: it includes the
     Include form (InstallHelper.wxi, made by the same stylesheet) with &lt;?include InstallHelper.wxi?&gt;
     in the Product. </xsl:comment>
    <xsl:apply-templates select="node()[not(self::comment()) or preceding-sibling::comment()]" />
  </xsl:template>

  <xsl:template match="/v4:Wix">
    <xsl:text>&#10;</xsl:text>
    <xsl:choose>
      <xsl:when test="$form = 'include'">
        <xsl:element name="Include" namespace="{$v3}">
          <xsl:apply-templates select="v4:Fragment/node()" />
        </xsl:element>
      </xsl:when>
      <xsl:otherwise>
        <xsl:element name="Wix" namespace="{$v3}">
          <xsl:apply-templates select="node()" />
        </xsl:element>
      </xsl:otherwise>
    </xsl:choose>
    <xsl:text>&#10;</xsl:text>
  </xsl:template>

  <xsl:template match="v4:*">
    <xsl:element name="{local-name()}" namespace="{$v3}">
      <xsl:apply-templates select="@*[name() != 'Condition']" />
      <xsl:value-of select="@Condition" />
      <xsl:apply-templates select="node()" />
    </xsl:element>
  </xsl:template>

  <xsl:template match="v4:CustomAction/@BinaryRef">
    <xsl:attribute name="BinaryKey"><xsl:value-of select="." /></xsl:attribute>
  </xsl:template>

  <xsl:template match="@*|comment()|text()">
    <xsl:copy />
  </xsl:template>
</xsl:stylesheet>
